// The window writes into the module simulator and runs the module's other
// operations: an upload of every code at the module's own pace, the baud
// rate, a learn report and a clear.

#include "WindowOnSim.h"
#include "tests/support/FileBytes.h"

class WriteTest : public QObject {
    Q_OBJECT
    WindowOnSim m;

private Q_SLOTS:
    void initTestCase() { m.Open({}); }

    // The one test that waits for 192 codes at the pace the module needs.
    void uploadStoresEveryCodeInTheModule()
    {
        m.Connect(9600);
        m.rig->FillTable();
        QVERIFY(m.rig->Click(Control::Button_WriteModule));  // returns once all is sent
        QCOMPARE(m.rig->boxes->texts.last(), QStringLiteral("确认写入自定义数据"));
        QTRY_COMPARE_WITH_TIMEOUT(m.sim.Count(QStringLiteral("recv exit")), 1, 5000);
        QCOMPARE(m.sim.Count(QStringLiteral("recv record block")), 192);
        QCOMPARE(m.sim.Count(QStringLiteral("recv record ignored")), 0);
        QTRY_VERIFY_WITH_TIMEOUT(m.rig->Log().contains(QStringLiteral("模块退出配置模式\r\n")), 5000);
        QVERIFY(m.rig->Log().contains(QStringLiteral("模块进入配置模式\r\n")));
        QVERIFY(m.rig->Log().endsWith(QStringLiteral("模块退出配置模式\r\n写入完成，共发送 192 个代码\r\n按 F7 与模块比较\r\n")));

        // The module's memory, as it keeps it, holds every cell's code.
        const QString stored = QString::fromLatin1(ReadAll(m.memory));
        for (int row : {1, 2, 63, 64, 65, 96})
            for (int column : {1, 2})
                QVERIFY2(stored.contains(QStringLiteral("\n%1 %2 %3\n").arg(row).arg(column).arg(CellTextFor(row, column).trimmed())),
                         qPrintable(QStringLiteral("row %1 column %2").arg(row).arg(column)));
        QCOMPARE(stored.count(QLatin1Char('\n')), 193);
    }

    void baudChangeAndLearnReportReachTheModule()
    {
        m.Connect(9600);
        QVERIFY(m.rig->SelectRate(Control::Combo_SetBaudRate, 115200));
        const int exits = m.rig->LogCount(QStringLiteral("模块退出配置模式\r\n"));
        QVERIFY(m.rig->Click(Control::Button_SetBaudRate));
        QTRY_COMPARE_WITH_TIMEOUT(m.sim.Count(QStringLiteral("recv baud 115200 FD 66 66 66 DF 01 C2 00 BF")), 1, 5000);
        // Now at 115200, the module does not understand the exit frame sent at 9600, and keeps its rate for good.
        QTRY_VERIFY_WITH_TIMEOUT(ReadAll(m.memory).contains("\nbaud 115200\n"), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(m.sim.Count(QStringLiteral("recv unknown")) > 0, 5000);
        QCOMPARE(m.rig->LogCount(QStringLiteral("模块退出配置模式\r\n")), exits);

        m.Connect(115200);
        m.rig->ui.SetText(Control::Edit_Learn, QStringLiteral("01 02 0a"));
        QVERIFY(m.rig->Click(Control::Button_Learn));
        QTRY_COMPARE_WITH_TIMEOUT(m.sim.Count(QStringLiteral("recv learn 01 02 0A : FD 49 52 01 02 0A")), 1, 5000);
    }

    void clearErasesTheModule()
    {
        QVERIFY(WriteMemory(m.memory, FewCells()));
        m.Connect(115200);
        QVERIFY(m.rig->Click(Control::Button_ClearModule));
        QTRY_COMPARE_WITH_TIMEOUT(m.sim.Count(QStringLiteral("erased")), 1, 5000);
        m.rig->FillTable();
        m.Read(10000);
        QCOMPARE(m.sim.Count(QStringLiteral("dump 0 records")), 1);
        m.ExpectTable({});
    }
};

QTEST_MAIN(WriteTest)
#include "test_e2e_write.moc"
