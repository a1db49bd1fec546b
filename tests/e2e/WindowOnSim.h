#pragma once
// The window kept open for a whole test program, as a user would keep it,
// against velmora-sim on a link in the test's own folder; the simulator is
// restarted with other manners between the cases. Shared by the end-to-end
// programs of each area (reads, writes and module operations, lost lines).

#include <QtTest>

#include "ProgramRig.h"

// Members end in reverse: the window closes (exit save, port closed), then
// the simulator stops, then the folder goes.
struct WindowOnSim {
    QTemporaryDir dir;
    QString link = dir.filePath(QStringLiteral("module.tty"));
    QString memory = dir.filePath(QStringLiteral("module.mem"));
    SimProcess sim;
    std::unique_ptr<ProgramRig> rig;

    // Opens the window (from initTestCase: it needs the application), with
    // the simulator's memory holding CodeFor in `cells`.
    void Open(const QList<Cell>& cells)
    {
        QVERIFY(QFile::exists(SimProcess::Program()));
        QVERIFY(WriteMemory(memory, cells));
        qputenv("VELMORA_EXTRA_PORTS", link.toLocal8Bit());
        rig = std::make_unique<ProgramRig>();
    }

    // How the simulator hands its answers to the line: each whole in one
    // write (the default), so that a busy machine cannot stall the line in
    // the middle of an answer; or byte by byte at the line's rate, as a wire
    // does, where a stall can cut a code (the program then says so).
    enum class Bytes { Whole, AtLineRate };

    // (Re)starts the simulator on the same link and opens the port at `rate`.
    // Records are 50 ms apart unless a case says otherwise.
    void Connect(int rate, const QStringList& manners = {}, Bytes bytes = Bytes::Whole)
    {
        if (rig->program.link.IsOpen()) QVERIFY(rig->Click(Control::Button_TogglePort));
        QStringList args{QStringLiteral("--link"), link, QStringLiteral("--memory"), memory,
                         QStringLiteral("--baud"), QString::number(rate)};
        if (!manners.contains(QStringLiteral("--pace"))) args << QStringLiteral("--pace") << QStringLiteral("50");
        if (bytes == Bytes::Whole) args << QStringLiteral("--no-wire-time");
        QVERIFY(sim.Start(args + manners));
        QCOMPARE(sim.Path(), link);
        QVERIFY(rig->SelectPort(link));
        QVERIFY(rig->SelectRate(Control::Combo_BaudRate, rate));
        QVERIFY(rig->Click(Control::Button_TogglePort));
        QVERIFY(rig->program.link.IsOpen());
        QVERIFY(rig->ModuleButtonsEnabled());
    }

    // Clicks "读取模块" on an emptied table and waits for the dump to end.
    void ReadOnce(int timeoutMs)
    {
        rig->EmptyTable();
        const int ends = rig->LogCount(QStringLiteral("数据提取完成\r\n"));
        QVERIFY(rig->Click(Control::Button_ReadModule));
        // Waited for as the application waits, so arrivals are stamped as they come.
        RunUntil([&] { return rig->LogCount(QStringLiteral("数据提取完成\r\n")) > ends; }, timeoutMs);
        QCOMPARE(rig->LogCount(QStringLiteral("数据提取完成\r\n")), ends + 1);
        QVERIFY(!rig->program.link.Reading().Dumping());
        QCOMPARE(rig->Bar(), 0);
        QVERIFY(rig->ModuleButtonsEnabled());
    }

    // Reads as the user is told to: again when the log says codes may be
    // wrong (a stall on a busy machine can cut a code, and the program must
    // say so), three reads at most.
    void Read(int timeoutMs)
    {
        const QString readAgain = QStringLiteral("请重新读取");
        for (int read = 0; read < 3; ++read) {
            const int said = rig->LogCount(readAgain);
            ReadOnce(timeoutMs);
            if (QTest::currentTestFailed() || rig->LogCount(readAgain) == said) return;
        }
    }

    // The table holds CodeFor in `cells` and nothing in the other value cells.
    void ExpectTable(const QList<Cell>& cells)
    {
        // The end of the log first: a long message is cut short.
        QVERIFY2(rig->Mismatches(cells).isEmpty(),
                 qPrintable(QStringLiteral("log ends: ") + rig->Log().right(500) + QStringLiteral("\ncells: ")
                            + rig->Mismatches(cells).join(QLatin1Char('\n'))));
    }
};
