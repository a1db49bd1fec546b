// The whole program against a module of the test's own on a pseudo-terminal:
// reads at every pacing a module may choose, a module that never answers, and
// the program ended by a signal in the middle of a write.

#include <QtTest>
#include <csignal>

#include "PtyModule.h"
#include "ProgramRig.h"
#include "core/TerminationSignals.h"

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
        if (rig->program.link.IsOpen()) QVERIFY(rig->Click(Control::Button_TogglePort));
        module.reset();
        module = std::make_unique<PtyModule>(link, manner);
        QVERIFY(module->Ready());
        QVERIFY(rig->SelectPort(link));
        QVERIFY(rig->SelectRate(Control::Combo_BaudRate, manner.rate));
        QVERIFY(rig->Click(Control::Button_TogglePort));
        QVERIFY(rig->program.link.IsOpen());
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
        QTest::newRow("9600 baud, 20 ms between records") << 9600 << 20;
        QTest::newRow("9600 baud, 12 ms between records") << 9600 << 12;
        QTest::newRow("115200 baud, records back to back") << 115200 << 0;
    }
    void everyCodeLandsInItsOwnCell()
    {
        QFETCH(int, rate);
        QFETCH(int, paceMs);
        PtyModule::Manner manner;
        manner.rate = rate;
        manner.paceMs = paceMs;
        manner.cells = FewCells();
        Connect(manner);
        rig->EmptyTable();
        QVERIFY(rig->Click(Control::Button_ReadModule));
        QTRY_COMPARE_WITH_TIMEOUT(rig->LogCount(QStringLiteral("数据提取完成\r\n")), 1, 60000);
        QVERIFY2(rig->Mismatches(manner.cells).isEmpty(),
                 qPrintable(rig->Mismatches(manner.cells).join(QLatin1Char('\n')) + QStringLiteral("\nlog:\n") + rig->Log().right(2000)));
        QVERIFY(rig->program.link.Reading().End() == ReadEnd::Complete);
        QVERIFY(rig->ModuleButtonsEnabled());
        // Nothing was cut off and shown as hex.
        QVERIFY2(rig->Log().endsWith(QStringLiteral("打开端口: COM%1 %2\r\n模块进入配置模式\r\n已发送读取指令\r\n"
                                                    "开始从模块提取数据\r\n数据提取完成\r\n")
                                         .arg(rig->program.link.PortNumber())
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
        const QString unanswered = QStringLiteral("模块无应答\r\n请检查 波特率: 是否与模块一致、端口是否选对、模块是否通电\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(rig->Log().endsWith(unanswered + QStringLiteral("读取未完成，配置表已恢复为读取前的内容\r\n")), 15000);
        QCOMPARE(rig->ValueCells(), before);
        QVERIFY(rig->program.link.Reading().End() == ReadEnd::NoAnswer);
        QVERIFY(rig->ModuleButtonsEnabled());
        QVERIFY(rig->program.link.IsOpen());
        QCOMPARE(module->Heard(), (QStringList{"FD 66 66 66 66 AA AA AA BF", "FD 66 66 66 66 AA AB DD BF"}));
    }

    // SIGTERM in the middle of a write: the window closes the normal way,
    // saves the table, and its last frame takes the module out of
    // configuration mode. Last, since the window is gone afterwards.
    void sigtermDuringAWriteEndsWithTheExitFrame()
    {
        Connect(PtyModule::Manner{});
        rig->FillTable();
        TerminationSignals terminate({SIGTERM}, [this](int) { rig->window->close(); });
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            if (module->Heard().size() < 6) return;  // enter, block 1, four records
            watch.stop();
            ::raise(SIGTERM);
        });
        watch.start(5);
        QVERIFY(rig->Click(Control::Button_WriteModule));  // returns once the upload has stopped
        QVERIFY(rig->window->DestroyedHandlerRan());
        // The port is closed: what the module hears once its line is drained is all there is.
        QCOMPARE(rig->serial.sio_iqueue(rig->program.link.PortNumber()), int(SioResult::NoSuchPort));
        const QString exitFrame = QStringLiteral("FD 66 66 66 66 AA AA BB BF");
        QTRY_VERIFY(!module->Heard().isEmpty() && module->Heard().last() == exitFrame && module->Drained());
        const QStringList heard = module->Heard();
        QCOMPARE(heard.last(), exitFrame);
        QCOMPARE(heard.count(exitFrame), 1);
        QVERIFY2(heard.size() < 20, qPrintable(heard.join(QLatin1Char('\n'))));  // cut short, not finished
        ConfigTable saved;
        QVERIFY(saved.LoadTable(rig->program.document.Path()));
        QCOMPARE(saved.GetCellText(96, 2), rig->table.GetCellText(96, 2));
    }

    void cleanupTestCase()
    {
        rig.reset();
        module.reset();
    }
};

QTEST_MAIN(PtyModuleEndToEndTest)
#include "test_e2e_pty.moc"
