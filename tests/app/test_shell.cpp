// Start-up and shut-down of the window, seen through the recording fakes and
// through the real window.

#include <QtTest>
#include <QApplication>
#include <QComboBox>
#include <QClipboard>
#include <QPlainTextEdit>
#include <QStyleFactory>
#include <QTimer>

#include "app/ModuleHandlers.h"
#include "app/Shell.h"
#include "app/WindowProgram.h"
#include "app/Program.h"
#include "config/ConfigTable.h"
#include "app/FileHandlers.h"
#include "serial/SerialLibrary.h"
#include "tests/support/FakeRegistryProvider.h"
#include "tests/support/FakeSerialProvider.h"
#include "tests/support/FakeUiServices.h"
#include "tests/support/ScriptedPresenter.h"
#include "ui/ConfigGridView.h"
#include "ui/MainWindow.h"
#include "ui/QtUiServices.h"
#include "ui/ThemedStyle.h"

namespace {

QString WriteTableWithCode(const QString& path, const QString& code)
{
    ConfigTable source;
    InitTable(source);
    source.SetCellText(1, 1, code);
    return source.SaveTable(path) ? path : QString();
}

struct FakeRig {
    FakeUiServices ui;
    FakeSerialProvider sio{&ui};
    FakeRegistryProvider registry;
    SerialLibrary serial{FatalReportTo(ui), {&sio, &registry}};
    ConfigTable table;
    WindowProgram window{ui, serial, table};
    Program& p = window.program;

    FakeRig() { registry.values = {"COM3", "COM5"}; }
    // The shell's two handlers, handed their parts as the window's wiring does.
    void Created() { MakeWindowHandlers(p).created(); }
    void Destroyed() { MakeWindowHandlers(p).destroyed(); }
};

// The default table file sits beside this test program; each test leaves it as it found it.
struct DefaultFileGuard {
    QString path = ChooseStartFiles(QCoreApplication::applicationDirPath(), UserDataFolder()).keep;
    DefaultFileGuard() { QFile::remove(path); }
    ~DefaultFileGuard() { QFile::remove(path); }
};

// The real window bound to the shell, the serial side faked.
struct WindowRig {
    FakeSerialProvider sio;
    FakeRegistryProvider registry;
    ScriptedPresenter* presenter = new ScriptedPresenter;
    QtUiServices ui{std::unique_ptr<BoxPresenter>(presenter)};
    SerialLibrary serial{FatalReportTo(ui), {&sio, &registry}};
    ConfigTable table;
    WindowProgram program{ui, serial, table};
    Program& p = program.program;
    MainWindow window{table, MakeWindowHandlers(p)};

    WindowRig()
    {
        registry.values = {"COM2"};
        ui.Attach(&window);
    }
    ~WindowRig()
    {
        if (auto* themed = qobject_cast<ThemedStyle*>(qApp->style()))
            qApp->setStyle(QStyleFactory::create(themed->baseStyle()->name()));
    }
    QWidget* W(Control c) const { return window.Widget(c); }
    void Created() { MakeWindowHandlers(p).created(); }
    void Destroyed() { MakeWindowHandlers(p).destroyed(); }
};

}  // namespace

class ShellTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void startupLeavesTheWindowIdleWithTheTableFromDisk()
    {
        DefaultFileGuard file;
        QVERIFY(!WriteTableWithCode(file.path, QStringLiteral("AA BB ")).isEmpty());
        FakeRig r;
        r.Created();

        QCOMPARE(r.ui.themeVariant, 2);
        QCOMPARE(r.ui.combos[Control::Combo_Port].texts, QStringList({"COM3", "COM5"}));
        QCOMPARE(r.ui.GetSelection(Control::Combo_Port), -1);
        QCOMPARE(r.ui.ComboItemText(Control::Combo_BaudRate, r.ui.GetSelection(Control::Combo_BaudRate)), QStringLiteral("9600"));
        QCOMPARE(r.ui.ComboItemText(Control::Combo_SetBaudRate, r.ui.GetSelection(Control::Combo_SetBaudRate)),
                 QStringLiteral("9600"));
        QCOMPARE(r.ui.GetCaption(Control::Button_TogglePort), QStringLiteral("开启"));
        for (Control c : kModuleButtons) QVERIFY(r.ui.IsDisabled(c));
        QVERIFY(!r.ui.IsDisabled(Control::Button_TogglePort));
        QVERIFY(!r.p.link.IsOpen());
        QCOMPARE(r.p.link.PortNumber(), -1);
        QCOMPARE(r.ui.title, TitlePrefix() + file.path);
        // The file's table, over the laid-out one.
        QCOMPARE(r.table.GetCellText(1, 1), QStringLiteral("AA BB "));
        QCOMPARE(r.table.GetCellText(96, 0), QStringLiteral("场景31"));
        QCOMPARE(r.table.ColumnWidth(1), 315);
        QVERIFY(r.ui.boxes.isEmpty());
        QVERIFY(r.ui.Log().isEmpty());
        QVERIFY(r.sio.calls.isEmpty());
        QCOMPARE(r.ui.GetInterval(Control::Timer_ReceiveData), 0);
        QCOMPARE(r.ui.GetPosition(Control::ProgressBar1), 0);
    }

    void theChosenPortAndRatesComeBackAtTheNextStartByDevice()
    {
        DefaultFileGuard file;
        QTemporaryDir dir;
        const QString settings = dir.filePath(QStringLiteral("velmora/velmora.conf"));
        auto chosen = [](FakeRig& r, Control box) { return r.ui.ComboItemText(box, r.ui.GetSelection(box)); };
        {
            FakeRig r;
            r.registry.devices = {{3, QStringLiteral("/dev/ttyS0")}, {5, QStringLiteral("/dev/ttyUSB0")}};
            r.p.state.settingsFile = settings;
            r.Created();
            QCOMPARE(r.ui.GetSelection(Control::Combo_Port), -1);  // nothing remembered yet
            r.ui.SetSelection(Control::Combo_Port, 1);
            r.ui.SetSelection(Control::Combo_BaudRate, 4);
            r.ui.SetSelection(Control::Combo_SetBaudRate, 2);
            r.Destroyed();
        }
        {
            // Another adapter came first: the remembered one is COM2 now.
            FakeRig r;
            r.registry.values = {"COM1", "COM2", "COM4"};
            r.registry.devices = {{1, QStringLiteral("/dev/ttyACM0")}, {2, QStringLiteral("/dev/ttyUSB0")},
                                  {4, QStringLiteral("/dev/ttyS0")}};
            r.p.state.settingsFile = settings;
            r.Created();
            QCOMPARE(chosen(r, Control::Combo_Port), QStringLiteral("COM2"));
            QCOMPARE(chosen(r, Control::Combo_BaudRate), QStringLiteral("115200"));
            QCOMPARE(chosen(r, Control::Combo_SetBaudRate), QStringLiteral("38400"));
            r.Destroyed();
        }
        {
            // Unplugged: no port is chosen, the rates still are.
            FakeRig r;
            r.registry.devices = {{3, QStringLiteral("/dev/ttyS0")}};
            r.registry.values = {"COM3"};
            r.p.state.settingsFile = settings;
            r.Created();
            QCOMPARE(r.ui.GetSelection(Control::Combo_Port), -1);
            QCOMPARE(chosen(r, Control::Combo_BaudRate), QStringLiteral("115200"));
            r.Destroyed();
        }
        // Closing without a choice kept the adapter for when it is back.
        QSettings kept(settings, QSettings::IniFormat);
        QCOMPARE(kept.value(QStringLiteral("port/device")).toString(), QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(kept.value(QStringLiteral("port/baudRate")).toString(), QStringLiteral("115200"));
        QCOMPARE(kept.value(QStringLiteral("module/baudRate")).toString(), QStringLiteral("38400"));

        // A settings file that cannot be written is said, not lost quietly.
        QFile blocker(dir.filePath(QStringLiteral("blocker")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        FakeRig r;
        r.p.state.settingsFile = dir.filePath(QStringLiteral("blocker/velmora/velmora.conf"));
        r.Created();
        r.ui.SetSelection(Control::Combo_BaudRate, 4);
        r.Destroyed();
        QCOMPARE(r.ui.consoleLines,
                 QStringList(QStringLiteral("velmora: %1 cannot be written; the chosen port, rates and language are not kept")
                                 .arg(r.p.state.settingsFile)));
    }

    void withoutAFileTheLaidOutTableStaysAndClosingWritesIt()
    {
        DefaultFileGuard file;
        FakeRig r;
        r.Created();
        QVERIFY(r.ui.title.endsWith(QStringLiteral("data.dat")));
        QCOMPARE(r.ui.title, TitlePrefix() + file.path);
        QCOMPARE(r.table.GetCellText(1, 0), QStringLiteral("开关01控制"));
        QCOMPARE(r.table.GetCellText(1, 1), QString());
        QVERIFY(r.ui.IsDisabled(Control::Button_WriteModule));
        QVERIFY(!QFile::exists(file.path));

        r.table.SetCellText(96, 2, QStringLiteral("0102"));
        r.Destroyed();
        QVERIFY(r.p.state.shuttingDown);
        ConfigTable reread;
        QVERIFY(reread.LoadTable(file.path));
        QCOMPARE(reread.GetCellText(96, 0), QStringLiteral("场景31"));
        QCOMPARE(reread.GetCellText(96, 2), QStringLiteral("0102"));
        QVERIFY(r.sio.calls.isEmpty());  // port closed: no serial call
    }

    void closingSavesToTheChosenFileAndClosesAnOpenPort()
    {
        DefaultFileGuard file;
        QTemporaryDir dir;
        FakeRig r;
        r.Created();
        r.p.document.SetPath(dir.filePath(QStringLiteral("other.dat")));
        r.p.link.Open(3, 9600, QStringLiteral("COM3"));
        r.sio.calls.clear();
        r.table.SetCellText(2, 1, QStringLiteral("fd 01"));
        r.Destroyed();

        QCOMPARE(r.sio.calls, QStringList({"sio_close(3)"}));
        QVERIFY(r.p.link.IsOpen());  // left as they are
        QCOMPARE(r.p.link.PortNumber(), 3);
        QVERIFY(!QFile::exists(file.path));
        ConfigTable reread;
        QVERIFY(reread.LoadTable(dir.filePath(QStringLiteral("other.dat"))));
        QCOMPARE(reread.GetCellText(2, 1), QStringLiteral("fd 01"));
    }

    // Ended while an operation has the module in configuration mode, the
    // window sends the exit frame, with no pause, before it closes the port.
    void closingMidOperationTakesTheModuleOutOfConfigurationMode_data()
    {
        QTest::addColumn<QString>("underWay");
        QTest::addColumn<QStringList>("written");
        const QStringList exitFrame{QStringLiteral("FD 66 66 66 66 AA AA BB BF")};
        QTest::newRow("a baud change, clear or upload sending") << "clear" << exitFrame;
        QTest::newRow("a read under way") << "read" << exitFrame;
        QTest::newRow("a read that ended") << "read, dumped" << QStringList();
        QTest::newRow("nothing under way") << "" << QStringList();
    }
    void closingMidOperationTakesTheModuleOutOfConfigurationMode()
    {
        QFETCH(QString, underWay);
        QFETCH(QStringList, written);
        DefaultFileGuard file;
        FakeRig r;
        r.Created();
        r.p.link.Open(3, 9600, QStringLiteral("COM3"));
        qsizetype writtenBefore = 0;
        int deliveries = 0;
        const auto close = [&] {
            writtenBefore = r.sio.writes.size();
            deliveries = r.ui.deliverCalls;
            r.Destroyed();
        };
        if (underWay == QLatin1String("clear")) {
            r.ui.onDeliver = [&] {
                if (!r.p.state.shuttingDown) close();  // in its first pause
            };
            ClearModule(r.p.Modules());
        } else {
            if (underWay.startsWith(QLatin1String("read"))) ReadModule(r.p.Modules());
            if (underWay.endsWith(QLatin1String("dumped"))) {
                r.sio.incoming.push_back(QByteArray::fromHex("FD66666666AAABDDBFFD66666666AAABDEBF"));
                ReceiveTick(r.p.link);
            }
            close();
        }
        QCOMPARE(r.sio.WrittenHex().mid(writtenBefore), written);
        QCOMPARE(r.sio.calls.last(), QStringLiteral("sio_close(3)"));
        QCOMPARE(r.ui.deliverCalls, deliveries);  // no pause after it
    }

    void aFatalReportKeepsTheTableOnceItsFileIsKnown()
    {
        DefaultFileGuard file;
        FakeRig r;
        r.serial.SetBeforeFatal([&] { SaveBeforeFatal(r.p.Files()); });
        r.sio.missing = {QStringLiteral("sio_open")};
        // Before start-up has named the file nothing is written.
        QVERIFY_THROWS_EXCEPTION(FatalExit, r.serial.sio_open(1));
        QVERIFY(!QFile::exists(file.path));

        FakeRig started;
        started.serial.SetBeforeFatal([&] { SaveBeforeFatal(started.p.Files()); });
        started.sio.missing = {QStringLiteral("sio_open")};
        started.Created();
        started.table.SetCellText(3, 1, QStringLiteral("AB"));
        QVERIFY_THROWS_EXCEPTION(FatalExit, started.serial.sio_open(1));
        ConfigTable reread;
        QVERIFY(reread.LoadTable(file.path));
        QCOMPARE(reread.GetCellText(3, 1), QStringLiteral("AB"));
    }

    void closingByHandSaysWhereTheTableWentWhenItsFileCannotTakeIt()
    {
        DefaultFileGuard file;
        QTemporaryDir dir;
        for (bool fromOutside : {false, true}) {
            WindowRig r;
            r.window.RunCreatedHandler();
            // A folder stands where the table file should be.
            r.p.document.SetPath(dir.path());
            r.table.SetCellText(9, 2, QStringLiteral("0C"));
            QDir(UserDataFolder()).removeRecursively();
            r.ui.SetUnattended(fromOutside);  // what an end by signal or session does
            r.window.close();

            const QDir user(UserDataFolder());
            const QStringList rescued = user.entryList({QStringLiteral("*.dat")}, QDir::Files);
            QCOMPARE(rescued.size(), 1);
            ConfigTable back;
            QVERIFY(back.LoadTable(user.filePath(rescued.first())));
            QCOMPARE(back.GetCellText(9, 2), QStringLiteral("0C"));
            // Someone who closed the window is told; nobody waits on a box otherwise.
            if (fromOutside) {
                QVERIFY(r.presenter->boxes.isEmpty());
            } else {
                QCOMPARE(r.presenter->boxes.size(), 1);
                QCOMPARE(r.presenter->boxes.first().text,
                         QStringLiteral("无法保存配置到 %1，已另存到 %2").arg(dir.path(), user.filePath(rescued.first())));
            }
        }
        QDir(UserDataFolder()).removeRecursively();
    }

    void clearLogEmptiesTheLogAndNothingElse()
    {
        FakeRig r;
        r.ui.SetText(Control::Edit_Display, QStringLiteral("端口已关闭\r\nuser text"));
        r.ui.SetText(Control::Edit_Learn, QStringLiteral("FD"));
        r.ui.SetPosition(Control::ProgressBar1, 40);
        MakeWindowHandlers(r.p).clearDisplayClicked();
        QCOMPARE(r.ui.GetText(Control::Edit_Display), QString());
        QCOMPARE(r.ui.GetText(Control::Edit_Learn), QStringLiteral("FD"));
        QCOMPARE(r.ui.GetPosition(Control::ProgressBar1), 40);
    }

    // Started by keyboard or mouse, a module operation leaves the keyboard
    // focus where it found it: not on a neighbour that the next Space or
    // Enter would press. Real boxes, answered by Enter; also on a desktop (test_shell_desktop).
    void afterAnOperationTheFocusGoesBackWhereItWas_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<QKeySequence>("keys");
        QTest::addColumn<bool>("read");
        QTest::newRow("读取模块, Space") << int(Control::Button_ReadModule) << QKeySequence(Qt::Key_Space) << true;
        QTest::newRow("F5 in the grid") << int(Control::ConfigGrid) << QKeySequence(Qt::Key_F5) << true;
        QTest::newRow("写入模块, Space") << int(Control::Button_WriteModule) << QKeySequence(Qt::Key_Space) << false;
        QTest::newRow("F6 in the learn box") << int(Control::Edit_Learn) << QKeySequence(Qt::Key_F6) << false;
        QTest::newRow("清空模块, Enter") << int(Control::Button_ClearModule) << QKeySequence(Qt::Key_Return) << false;
        QTest::newRow("F6 on 打开文件") << int(Control::Button_OpenFile) << QKeySequence(Qt::Key_F6) << false;
        QTest::newRow("F5 on 关闭") << int(Control::Button_TogglePort) << QKeySequence(Qt::Key_F5) << true;
        QTest::newRow("Ctrl+P on 读取模块") << int(Control::Button_ReadModule) << QKeySequence(Qt::CTRL | Qt::Key_P) << false;
    }
    void afterAnOperationTheFocusGoesBackWhereItWas()
    {
        QFETCH(int, from);
        QFETCH(QKeySequence, keys);
        QFETCH(bool, read);
        DefaultFileGuard file;
        WindowRig r;
        r.window.RunCreatedHandler();
        r.table.SetCellText(1, 1, QStringLiteral("A1 01"));
        r.window.show();
        QVERIFY(QTest::qWaitForWindowActive(&r.window));
        r.ui.SetSelection(Control::Combo_Port, 0);
        QTest::keySequence(&r.window, QKeySequence(Qt::CTRL | Qt::Key_P));
        QVERIFY(r.p.link.IsOpen());
        r.W(Control(from))->setFocus();
        r.presenter->showsBoxes = true;
        QTimer enter;
        connect(&enter, &QTimer::timeout, [] {
            if (QWidget* box = QApplication::activeModalWidget(); box && box->isActiveWindow()) QTest::keyClick(box, Qt::Key_Return);
        });
        enter.start(10);
        QTest::keySequence(QApplication::focusWidget(), keys);
        QCOMPARE(r.presenter->boxes.size(), keys == QKeySequence(Qt::CTRL | Qt::Key_P) ? 0 : 1);  // asked first
        // The module answers a read with a dump of nothing.
        if (read) r.sio.incoming = {QByteArray::fromHex("FD66666666AAABDDBF"), QByteArray::fromHex("FD66666666AAABDEBF")};
        QTRY_VERIFY(r.W(Control::Button_OpenFile)->isEnabled() && r.W(Control::Button_TogglePort)->isEnabled());
        // No window manager gives the window its activation back after a box offscreen.
        if (QGuiApplication::platformName() == QLatin1String("offscreen")) r.window.activateWindow();
        // Grey at the end (the port closed): the button that began it.
        QTRY_COMPARE(QApplication::focusWidget(), r.W(Control(from))->isEnabled() ? r.W(Control(from)) : r.W(Control::Button_TogglePort));
    }

    // While a read waits for its dump the file buttons and their keys are grey and the grid scrolls
    // and copies but takes no edit; all of it comes back when the dump ends.
    void aModuleOperationHoldsTheTable()
    {
        DefaultFileGuard file;
        WindowRig r;
        r.window.RunCreatedHandler();
        r.window.show();
        QVERIFY(QTest::qWaitForWindowActive(&r.window));
        r.ui.SetSelection(Control::Combo_Port, 0);
        ConfigGridView* grid = r.window.Grid();
        const auto press = [grid](std::initializer_list<QKeySequence> keys) {
            for (const QKeySequence& k : keys) QTest::keySequence(grid, k);
        };
        grid->setFocus();
        press({QKeySequence(Qt::CTRL | Qt::Key_P), QKeySequence(Qt::Key_F5)});
        r.table.SetCellText(1, 1, QStringLiteral("AA"));  // as a record of the dump would
        grid->setCurrentIndex(grid->IndexOfCell(1, 1));
        QGuiApplication::clipboard()->setText(QStringLiteral("BB"));
        press({QKeySequence(Qt::CTRL | Qt::Key_O), QKeySequence(Qt::CTRL | Qt::Key_S), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S),
               QKeySequence::Paste, QKeySequence(Qt::Key_Delete), QKeySequence(Qt::CTRL | Qt::Key_Z), QKeySequence(Qt::Key_C),
               QKeySequence::Copy, QKeySequence(Qt::CTRL | Qt::Key_End)});
        QVERIFY(r.presenter->dialogs.isEmpty() && r.presenter->boxes.size() == 1);  // the read's confirmation only
        QCOMPARE(QApplication::focusWidget(), grid);  // no cell editor opened
        QCOMPARE(r.table.GetCellText(1, 1), QStringLiteral("AA"));
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("AA"));
        QVERIFY(grid->rowAt(0) > 0);  // scrolled to the end

        r.sio.incoming = {QByteArray::fromHex("FD66666666AAABDDBF"), QByteArray::fromHex("FD66666666AAABDEBF")};
        QTRY_VERIFY(r.W(Control::Button_OpenFile)->isEnabled() && r.W(Control::Button_SaveAs)->isEnabled());
        QVERIFY(!grid->IsReadOnly() && grid->EditAction(QStringLiteral("paste"))->isEnabled());
    }

    void theRealWindowAfterStartup()
    {
        DefaultFileGuard file;
        WindowRig r;
        r.window.RunCreatedHandler();

        const QList<Control> moduleButtons = {Control::Button_SetBaudRate, Control::Button_Learn,
                                              Control::Button_ClearModule, Control::Button_ReadModule,
                                              Control::Button_WriteModule};
        for (int i = 0; i < int(Control::MainWindow); ++i) {
            const Control c = Control(i);
            QWidget* w = r.W(c);
            if (!w) continue;  // the timer and the file dialog have no visible area
            QCOMPARE(w->isEnabled(), !moduleButtons.contains(c));
        }
        QCOMPARE(r.window.windowTitle(), TitlePrefix() + file.path);
        QCOMPARE(r.ui.GetCaption(Control::Button_TogglePort), QStringLiteral("开启"));
        auto* port = qobject_cast<QComboBox*>(r.W(Control::Combo_Port));
        QCOMPARE(port->count(), 1);
        QCOMPARE(r.ui.GetSelection(Control::Combo_Port), -1);
        QCOMPARE(port->currentText(), QString());
        QCOMPARE(qobject_cast<QComboBox*>(r.W(Control::Combo_BaudRate))->currentText(), QStringLiteral("9600"));
        QCOMPARE(qobject_cast<QComboBox*>(r.W(Control::Combo_SetBaudRate))->currentText(), QStringLiteral("9600"));
        QVERIFY(!r.window.ReceiveTimer()->isActive());
        QVERIFY(r.ui.GetText(Control::Edit_Display).isEmpty());
        QCOMPARE(r.ui.GetPosition(Control::ProgressBar1), 0);
        QVERIFY(qobject_cast<ThemedStyle*>(qApp->style()));
        QCOMPARE(r.window.Grid()->model()->headerData(0, Qt::Vertical).toString(), QStringLiteral("开关01控制"));

        // The clear button empties what the program and the user wrote.
        r.ui.AppendText(Control::Edit_Display, QStringLiteral("x\r\n"));
        QTest::mouseClick(r.W(Control::Button_ClearDisplay), Qt::LeftButton);
        QVERIFY(r.ui.GetText(Control::Edit_Display).isEmpty());

        // Opening the port list asks the registry again.
        r.registry.values = {"COM2", "COM4"};
        r.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&r.window));
        port->showPopup();
        QCOMPARE(port->count(), 2);
        port->hidePopup();

        // Closing the window saves the table to the current file.
        r.table.SetCellText(1, 2, QStringLiteral("11 22"));
        r.window.close();
        QVERIFY(r.p.state.shuttingDown);
        ConfigTable reread;
        QVERIFY(reread.LoadTable(file.path));
        QCOMPARE(reread.GetCellText(1, 2), QStringLiteral("11 22"));
    }
};

QTEST_MAIN(ShellTest)
#include "test_shell.moc"
