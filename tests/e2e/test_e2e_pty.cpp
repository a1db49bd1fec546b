// The whole program against a module of the test's own on a pseudo-terminal:
// reads at every pacing a module may choose, a module that never answers, and
// a far end that closes for good in the middle of a read, an upload and a clear.

#include <QtTest>

#include "PtyModule.h"
#include "ProgramRig.h"

class PtyModuleEndToEndTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<ProgramRig> rig;
    std::unique_ptr<PtyModule> module;
    QTemporaryDir dir;
    QString link;

    // A fresh module with `manner` behind the link, and the port opened on it.
    void Connect(const PtyModule::Manner& manner)
    {
        if (rig->program.state.portOpen) QVERIFY(rig->Click(Control::Button_TogglePort));
        module.reset();
        module = std::make_unique<PtyModule>(link, manner);
        QVERIFY(module->Ready());
        QVERIFY(rig->SelectPort(link));
        QVERIFY(rig->SelectRate(Control::Combo_BaudRate, manner.rate));
        QVERIFY(rig->Click(Control::Button_TogglePort));
        QVERIFY(rig->program.state.portOpen);
    }

    // What must hold once the port was lost under a running operation.
    void CheckClosedByLoss()
    {
        QTRY_VERIFY_WITH_TIMEOUT(!rig->program.state.portOpen, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!rig->program.state.operationRunning, 5000);
        QCOMPARE(rig->LogCount(QStringLiteral("端口已断开: COM")), 1);
        QVERIFY(rig->Log().endsWith(QStringLiteral("端口已关闭\r\n")));
        QCOMPARE(rig->ui.GetCaption(Control::Button_TogglePort), QStringLiteral("开启"));
        QVERIFY(!rig->ui.IsDisabled(Control::Button_TogglePort));
        QVERIFY(!rig->program.state.extracting);
        QCOMPARE(rig->Bar(), 0);
    }

private Q_SLOTS:
    void initTestCase()
    {
        link = dir.filePath(QStringLiteral("pty-module.tty"));
        qputenv("VELMORA_EXTRA_PORTS", link.toLocal8Bit());
        rig = std::make_unique<ProgramRig>();
    }

    void init() { rig->ui.SetText(Control::Edit_Display, QString()); }

    void everyCodeLandsInItsOwnCell_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("paceMs");
        QTest::addColumn<int>("pieceGapMs");
        for (int rate : {9600, 115200}) {
            for (int pace : {20, 12, 0}) QTest::addRow("%d baud, %d ms between records", rate, pace) << rate << pace << 0;
            QTest::addRow("%d baud, every answer in two pieces 16 ms apart", rate) << rate << 20 << 16;
        }
    }
    void everyCodeLandsInItsOwnCell()
    {
        QFETCH(int, rate);
        QFETCH(int, paceMs);
        QFETCH(int, pieceGapMs);
        PtyModule::Manner manner;
        manner.rate = rate;
        manner.paceMs = paceMs;
        manner.pieceGapMs = pieceGapMs;
        Connect(manner);
        rig->EmptyTable();
        QVERIFY(rig->Click(Control::Button_ReadModule));
        QTRY_COMPARE_WITH_TIMEOUT(rig->LogCount(QStringLiteral("数据提取完成\r\n")), 1, 60000);
        QVERIFY2(rig->WrongCells() == 0, qPrintable(rig->WrongCellReport() + QStringLiteral("\nlog:\n") + rig->Log().right(2000)));
        QVERIFY(rig->program.state.readEnd == ReadEnd::Complete);
        QVERIFY(rig->ModuleButtonsEnabled());
        // Nothing was cut off and shown as hex.
        QVERIFY2(rig->Log().endsWith(QStringLiteral("打开端口: COM%1 %2\r\n模块进入配置模式\r\n已发送读取指令\r\n"
                                                    "开始从模块提取数据\r\n数据提取完成\r\n")
                                         .arg(rig->program.state.portNumber)
                                         .arg(rate)),
                 qPrintable(rig->Log()));
    }

    void silentModuleEndsTheRead()
    {
        PtyModule::Manner manner;
        manner.silent = true;
        Connect(manner);
        rig->FillTable();
        QVERIFY(rig->Click(Control::Button_ReadModule));
        QVERIFY(!rig->ModuleButtonsEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(rig->Log().endsWith(QStringLiteral("模块无应答\r\n")), 15000);
        QVERIFY(rig->program.state.readEnd == ReadEnd::NoAnswer);
        QVERIFY(rig->ModuleButtonsEnabled());
        QVERIFY(rig->program.state.portOpen);
        QCOMPARE(module->Heard(), (QStringList{"FD 66 66 66 66 AA AA AA BF", "FD 66 66 66 66 AA AB DD BF"}));
    }

    // The module's end closes for good under a read, an upload and a clear.
    void farEndClosingForGoodClosesThePort_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::newRow("read") << "read";
        QTest::newRow("upload") << "upload";
        QTest::newRow("clear") << "clear";
    }
    void farEndClosingForGoodClosesThePort()
    {
        QFETCH(QString, operation);
        PtyModule::Manner manner;
        manner.closeAfterRecords = operation == QLatin1String("read") ? 40 : -1;
        manner.closeAtFrame = operation == QLatin1String("upload") ? 30 : operation == QLatin1String("clear") ? 2 : -1;
        Connect(manner);
        rig->FillTable();
        const Control button = operation == QLatin1String("read") ? Control::Button_ReadModule
            : operation == QLatin1String("upload")                  ? Control::Button_WriteModule
                                                                    : Control::Button_ClearModule;
        if (operation == QLatin1String("read")) rig->EmptyTable();
        const QStringList before = rig->ValueCells();
        QVERIFY(rig->Click(button));
        QTRY_VERIFY_WITH_TIMEOUT(module->Closed(), 30000);
        CheckClosedByLoss();
        if (operation == QLatin1String("read")) {
            QCOMPARE(rig->WrongCells(), 192 - 40);  // what came before the loss stays
            QVERIFY(rig->program.state.readEnd == ReadEnd::PortLost);
        } else {
            QCOMPARE(rig->ValueCells(), before);
        }

        // The device is gone for good: opening says so and keeps the port closed.
        QVERIFY(rig->Click(Control::Button_TogglePort));
        QVERIFY(!rig->program.state.portOpen);
        QCOMPARE(rig->boxes->texts.last(), QStringLiteral("端口打开失败-1"));
        QVERIFY(rig->Log().endsWith(QStringLiteral(" 设备不存在\r\n")));

        // A module plugged in again is read as ever.
        Connect(PtyModule::Manner{});
        rig->EmptyTable();
        QVERIFY(rig->Click(Control::Button_ReadModule));
        QTRY_VERIFY_WITH_TIMEOUT(rig->program.state.readEnd == ReadEnd::Complete, 60000);
        QCOMPARE(rig->WrongCells(), 0);
    }

    void cleanupTestCase()
    {
        rig.reset();
        module.reset();
    }
};

QTEST_MAIN(PtyModuleEndToEndTest)
#include "test_e2e_pty.moc"
