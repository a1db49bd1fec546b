#include <QtTest>

#include "ProgramRig.h"

namespace {

QString Hex(const QByteArray& bytes) { return QString::fromLatin1(bytes.toHex(' ').toUpper()) + QLatin1Char(' '); }

}  // namespace

// One program for the whole run, as a user would keep it open; the
// simulator is restarted with other manners between the cases.
class EndToEndTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<ProgramRig> rig;
    SimProcess sim;
    QTemporaryDir dir;
    QString link, memory;

    // (Re)starts the simulator on the same link and opens the port at `rate`.
    // Records are 50 ms apart unless a case says otherwise: well past the
    // quiet the program waits for, so a busy test machine cannot run two
    // records together.
    void Connect(int rate, const QStringList& manners = {})
    {
        if (rig->program.state.portOpen) QVERIFY(rig->Click(Control::Button_TogglePort));
        QStringList args{QStringLiteral("--link"), link, QStringLiteral("--memory"), memory,
                         QStringLiteral("--baud"), QString::number(rate)};
        if (!manners.contains(QStringLiteral("--pace"))) args << QStringLiteral("--pace") << QStringLiteral("50");
        QVERIFY(sim.Start(args + manners));
        QCOMPARE(sim.Path(), link);
        QVERIFY(rig->SelectPort(link));
        QVERIFY(rig->SelectRate(Control::Combo_BaudRate, rate));
        QVERIFY(rig->Click(Control::Button_TogglePort));
        QVERIFY(rig->program.state.portOpen);
        QVERIFY(rig->ModuleButtonsEnabled());
    }

    // Clicks "读取模块" on an emptied table and waits for the dump to end.
    void Read(int timeoutMs)
    {
        rig->EmptyTable();
        const int ends = rig->LogCount(QStringLiteral("数据提取完成\r\n"));
        QVERIFY(rig->Click(Control::Button_ReadModule));
        QTRY_COMPARE_WITH_TIMEOUT(rig->LogCount(QStringLiteral("数据提取完成\r\n")), ends + 1, timeoutMs);
        QVERIFY(!rig->program.state.extracting);
        QCOMPARE(rig->Bar(), 0);
        QVERIFY(rig->ModuleButtonsEnabled());
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(QFile::exists(SimProcess::Program()));
        link = dir.filePath(QStringLiteral("module.tty"));
        memory = dir.filePath(QStringLiteral("module.mem"));
        qputenv("VELMORA_EXTRA_PORTS", link.toLocal8Bit());
        rig = std::make_unique<ProgramRig>();
    }

    void uploadStoresEveryCodeInTheModule()
    {
        Connect(9600);
        rig->FillTable();
        QVERIFY(rig->Click(Control::Button_WriteModule));  // returns once all is sent
        QCOMPARE(rig->boxes->texts.last(), QStringLiteral("确认写入自定义数据"));
        QTRY_COMPARE_WITH_TIMEOUT(sim.Count(QStringLiteral("recv exit")), 1, 5000);
        QCOMPARE(sim.Count(QStringLiteral("recv record block")), 192);
        QCOMPARE(sim.Count(QStringLiteral("recv record ignored")), 0);
        QTRY_VERIFY_WITH_TIMEOUT(rig->Log().contains(QStringLiteral("模块退出配置模式\r\n")), 5000);
        QVERIFY(rig->Log().contains(QStringLiteral("模块进入配置模式\r\n")));

        // The module's memory, as it keeps it, holds every cell's code.
        QFile f(memory);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString stored = QString::fromLatin1(f.readAll());
        for (int row : {1, 2, 63, 64, 65, 96})
            for (int column : {1, 2})
                QVERIFY2(stored.contains(QStringLiteral("\n%1 %2 %3\n").arg(row).arg(column).arg(Hex(CodeFor(row, column)).trimmed())),
                         qPrintable(QStringLiteral("row %1 column %2").arg(row).arg(column)));
        QCOMPARE(stored.count(QLatin1Char('\n')), 193);
    }

    void readBringsBackEveryCode_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<QStringList>("manners");
        QTest::addColumn<int>("timeoutMs");
        QTest::newRow("9600, every answer in two writes") << 9600 << QStringList{QStringLiteral("--pieces"), QStringLiteral("2")} << 30000;
        QTest::newRow("115200") << 115200 << QStringList{} << 30000;
        QTest::newRow("9600, slow pacing") << 9600 << QStringList{QStringLiteral("--pace"), QStringLiteral("150")} << 90000;
        QTest::newRow("115200, answers in five pieces") << 115200 << QStringList{QStringLiteral("--pieces"), QStringLiteral("5")} << 30000;
        QTest::newRow("115200, noise ahead of answers") << 115200 << QStringList{QStringLiteral("--noise"), QStringLiteral("3")} << 60000;
        // Records closer than the quiet time, down to none at all, still
        // come apart; so does an answer an adapter hands over in two pieces.
        for (int rate : {9600, 115200}) {
            for (const char* pace : {"20", "12"})
                QTest::addRow("%d, %s ms between records", rate, pace)
                    << rate << QStringList{QStringLiteral("--pace"), QString::fromLatin1(pace)} << 60000;
            QTest::addRow("%d, records back to back", rate) << rate << QStringList{QStringLiteral("--back-to-back")} << 60000;
            QTest::addRow("%d, every answer in two pieces 16 ms apart", rate)
                << rate << QStringList{QStringLiteral("--pace"), QStringLiteral("20"), QStringLiteral("--pieces"), QStringLiteral("2"),
                                       QStringLiteral("--piece-gap"), QStringLiteral("16")} << 60000;
        }
    }
    void readBringsBackEveryCode()
    {
        QFETCH(int, rate);
        QFETCH(QStringList, manners);
        QFETCH(int, timeoutMs);
        Connect(rate, manners);
        Read(timeoutMs);
        QVERIFY2(rig->WrongCells() == 0, qPrintable(rig->WrongCellReport() + QStringLiteral("\nlog:\n") + rig->Log().right(3000)));
        QVERIFY(rig->program.state.readEnd == ReadEnd::Complete);
        // The header row and the title column are left as laid out.
        QCOMPARE(rig->table.GetCellText(0, 1), QStringLiteral("开"));
        QCOMPARE(rig->table.GetCellText(96, 0), QStringLiteral("场景31"));
    }

    // The line goes away in the middle of a read, an upload and a clear: the
    // simulator drops it for a while, or is killed and its end is gone for
    // good. The program closes the port, keeps the table, writes nothing more,
    // and reads the module again once it is back and the port is reopened.
    void losingTheLineClosesThePort_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<bool>("killed");
        for (const char* operation : {"read", "upload", "clear"}) {
            QTest::addRow("%s, line dropped", operation) << QString::fromLatin1(operation) << false;
            QTest::addRow("%s, simulator killed", operation) << QString::fromLatin1(operation) << true;
        }
    }
    void losingTheLineClosesThePort()
    {
        QFETCH(QString, operation);
        QFETCH(bool, killed);
        const bool read = operation == QLatin1String("read");
        const bool upload = operation == QLatin1String("upload");
        QStringList manners{QStringLiteral("--hang-up-for"), QStringLiteral("1500")};
        if (!killed) {
            manners << (read ? QStringLiteral("--hang-up-after") : QStringLiteral("--hang-up-at-frame"))
                    << (read ? QStringLiteral("40") : upload ? QStringLiteral("30") : QStringLiteral("2"));
        }
        Connect(9600, manners);
        rig->FillTable();
        if (read) rig->EmptyTable();
        const QStringList before = rig->ValueCells();
        const int ends = rig->LogCount(QStringLiteral("数据提取完成\r\n"));
        const int losses = rig->LogCount(QStringLiteral("端口已断开: COM"));
        QVERIFY(rig->Click(read ? Control::Button_ReadModule : upload ? Control::Button_WriteModule : Control::Button_ClearModule));
        if (killed) {
            if (read) QTRY_VERIFY_WITH_TIMEOUT(192 - rig->WrongCells() >= 40, 30000);
            else if (upload) QTRY_VERIFY_WITH_TIMEOUT(sim.Count(QStringLiteral("recv record block")) >= 20, 30000);
            else QTRY_COMPARE_WITH_TIMEOUT(sim.Count(QStringLiteral("recv clear")), 1, 5000);
            sim.Kill();
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(sim.Count(QStringLiteral("hung up")), 1, 30000);
        }

        // The program notices at once: the port is closed as "关闭" would, the operation has ended.
        QTRY_VERIFY_WITH_TIMEOUT(!rig->program.state.portOpen, 2000);
        QTRY_VERIFY_WITH_TIMEOUT(!rig->program.state.operationRunning, 2000);
        QCOMPARE(rig->LogCount(QStringLiteral("端口已断开: COM")), losses + 1);
        QVERIFY(rig->Log().endsWith(QStringLiteral("端口已关闭\r\n")));
        QCOMPARE(rig->ui.GetCaption(Control::Button_TogglePort), QStringLiteral("开启"));
        QVERIFY(!rig->ui.IsDisabled(Control::Button_TogglePort));
        QVERIFY(!rig->program.state.extracting);
        QCOMPARE(rig->Bar(), 0);
        QCOMPARE(rig->LogCount(QStringLiteral("数据提取完成\r\n")), ends);
        if (read) {
            QVERIFY(rig->program.state.readEnd == ReadEnd::PortLost);
            QVERIFY(rig->OnlyRightCodes());  // what came before the loss stays
            QVERIFY(192 - rig->WrongCells() >= 40);
        } else {
            QCOMPARE(rig->ValueCells(), before);
        }

        if (killed) {
            // Gone for good: opening says so and leaves the port closed.
            QVERIFY(rig->Click(Control::Button_TogglePort));
            QVERIFY(!rig->program.state.portOpen);
            QCOMPARE(rig->boxes->texts.last(), QStringLiteral("端口打开失败-1"));
            QVERIFY(rig->Log().endsWith(QStringLiteral(" 设备不存在\r\n")));
            // The module comes back (a clear it heard before it died is undone).
            QVERIFY(WriteFullMemory(memory));
            Connect(9600);
        } else {
            // Nothing reaches the module's line once it is back, until the port is reopened.
            QTRY_COMPARE_WITH_TIMEOUT(sim.Count(QStringLiteral("line back on")), 1, 5000);
            const qsizetype lost = sim.lines.indexOf(QRegularExpression(QStringLiteral("^hung up")));
            QTest::qWait(200);
            QCOMPARE(sim.lines.mid(lost).filter(QRegularExpression(QStringLiteral("^recv"))), QStringList());
            QVERIFY(rig->Click(Control::Button_TogglePort));
            QVERIFY(rig->program.state.portOpen);
        }
        Read(30000);
        QCOMPARE(rig->WrongCells(), 0);
    }

    void baudChangeAndLearnReportReachTheModule()
    {
        Connect(9600);
        QVERIFY(rig->SelectRate(Control::Combo_SetBaudRate, 115200));
        const int exits = rig->LogCount(QStringLiteral("模块退出配置模式\r\n"));
        QVERIFY(rig->Click(Control::Button_SetBaudRate));
        QTRY_COMPARE_WITH_TIMEOUT(sim.Count(QStringLiteral("recv baud 115200 FD 66 66 66 DF 01 C2 00 BF")), 1, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(rig->LogCount(QStringLiteral("模块退出配置模式\r\n")), exits + 1, 5000);

        rig->ui.SetText(Control::Edit_Learn, QStringLiteral("01 02 0a"));
        QVERIFY(rig->Click(Control::Button_Learn));
        QTRY_COMPARE_WITH_TIMEOUT(sim.Count(QStringLiteral("recv learn 01 02 0A : FD 49 52 01 02 0A")), 1, 5000);
    }

    void clearErasesTheModule()
    {
        Connect(115200);
        QVERIFY(rig->Click(Control::Button_ClearModule));
        QTRY_COMPARE_WITH_TIMEOUT(sim.Count(QStringLiteral("erased")), 1, 5000);
        rig->FillTable();
        Read(10000);
        QCOMPARE(sim.Count(QStringLiteral("dump 0 records")), 1);
        QCOMPARE(rig->WrongCells(), 192);
        QCOMPARE(rig->table.GetCellText(1, 1), QString());
        QCOMPARE(rig->table.GetCellText(96, 2), QString());
    }

    void cleanupTestCase()
    {
        rig.reset();  // closes the window: exit save, port closed
        sim.Stop();
    }
};

QTEST_MAIN(EndToEndTest)
#include "test_e2e.moc"
