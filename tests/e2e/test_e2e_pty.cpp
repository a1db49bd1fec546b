// The whole program against a module of the test's own on a pseudo-terminal:
// reads at every pacing a module may choose, and a module that never answers.

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
        manner.cells = FewCells();
        Connect(manner);
        rig->EmptyTable();
        QVERIFY(rig->Click(Control::Button_ReadModule));
        QTRY_COMPARE_WITH_TIMEOUT(rig->LogCount(QStringLiteral("数据提取完成\r\n")), 1, 60000);
        QVERIFY2(rig->Mismatches(manner.cells).isEmpty(),
                 qPrintable(rig->Mismatches(manner.cells).join(QLatin1Char('\n')) + QStringLiteral("\nlog:\n") + rig->Log().right(2000)));
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
        const QStringList before = rig->ValueCells();
        QVERIFY(rig->Click(Control::Button_ReadModule));
        QVERIFY(!rig->ModuleButtonsEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(rig->Log().endsWith(QStringLiteral("模块无应答\r\n读取未完成，配置表已恢复为读取前的内容\r\n")), 15000);
        QCOMPARE(rig->ValueCells(), before);
        QVERIFY(rig->program.state.readEnd == ReadEnd::NoAnswer);
        QVERIFY(rig->ModuleButtonsEnabled());
        QVERIFY(rig->program.state.portOpen);
        QCOMPARE(module->Heard(), (QStringList{"FD 66 66 66 66 AA AA AA BF", "FD 66 66 66 66 AA AB DD BF"}));
    }

    void cleanupTestCase()
    {
        rig.reset();
        module.reset();
    }
};

QTEST_MAIN(PtyModuleEndToEndTest)
#include "test_e2e_pty.moc"
