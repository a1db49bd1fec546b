// Where the keyboard focus is after each module operation, with the real
// confirmation boxes answered by Enter. Run offscreen, and on a desktop with a
// window manager (tests/support/on-desktop.sh), where the box and the window
// take the focus from each other as they do for a user.

#include <QtTest>
#include <QApplication>
#include <QMessageBox>

#include "app/Shell.h"
#include "app/WindowProgram.h"
#include "config/ConfigTable.h"
#include "config/FileHandlers.h"
#include "core/Program.h"
#include "serial/SerialLibrary.h"
#include "tests/support/FakeRegistryProvider.h"
#include "tests/support/FakeSerialProvider.h"
#include "ui/MainWindow.h"
#include "ui/QtUiServices.h"

namespace {

struct FocusRig {
    FakeSerialProvider sio;
    FakeRegistryProvider registry;
    QtUiServices ui;  // the real boxes
    SerialLibrary serial{ui, {&sio, &registry}};
    ConfigTable table;
    WindowProgram program{ui, serial, table};
    MainWindow window{table, MakeWindowHandlers(program.program)};
    QString dataFile = ChooseStartFiles(QCoreApplication::applicationDirPath(), UserDataFolder()).keep;

    FocusRig()
    {
        registry.values = {"COM2"};
        ui.Attach(&window);
        QFile::remove(dataFile);
    }
    ~FocusRig() { QFile::remove(dataFile); }
    QWidget* W(Control c) const { return window.Widget(c); }
};

// Presses Enter in every message box, once it is up and has the focus, while it lives.
struct BoxAnswerer {
    QTimer poll;
    int answered = 0;
    BoxAnswerer()
    {
        QObject::connect(&poll, &QTimer::timeout, &poll, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isActiveWindow()) return;
            ++answered;
            QTest::keyClick(box, Qt::Key_Return);
        });
        poll.start(10);
    }
};

}  // namespace

class FocusTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    // Started by keyboard or mouse, an operation leaves the focus where the
    // user had it before its confirmation: not on a neighbour that the next
    // Space or Enter would press. Where that control is grey by then, the
    // operation's own button has it.
    void afterAnOperationTheFocusGoesBackWhereItWas_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<QKeySequence>("keys");
        QTest::addColumn<bool>("asks");
        QTest::addColumn<int>("after");
        const auto row = [](const char* name, Control from, QKeySequence keys, bool asks, Control after) {
            QTest::newRow(name) << int(from) << keys << asks << int(after);
        };
        // Each operation in turn, from a button, a box or the grid; a read ends with its dump.
        row("F5 on 关闭", Control::Button_TogglePort, QKeySequence(Qt::Key_F5), true, Control::Button_TogglePort);
        row("读取模块, Space", Control::Button_ReadModule, QKeySequence(Qt::Key_Space), true, Control::Button_ReadModule);
        row("F5 in the grid", Control::ConfigGrid, QKeySequence(Qt::Key_F5), true, Control::ConfigGrid);
        row("F6 in the learn box", Control::Edit_Learn, QKeySequence(Qt::Key_F6), true, Control::Edit_Learn);
        row("F6 on 打开文件", Control::Button_OpenFile, QKeySequence(Qt::Key_F6), true, Control::Button_OpenFile);
        row("清空模块, Enter", Control::Button_ClearModule, QKeySequence(Qt::Key_Return), true, Control::Button_ClearModule);
        row("设置波特率, Space", Control::Button_SetBaudRate, QKeySequence(Qt::Key_Space), true, Control::Button_SetBaudRate);
        row("上报, Enter", Control::Button_Learn, QKeySequence(Qt::Key_Return), false, Control::Button_Learn);
        row("Ctrl+P on 读取模块", Control::Button_ReadModule, QKeySequence(Qt::CTRL | Qt::Key_P), false,
            Control::Button_TogglePort);
    }
    void afterAnOperationTheFocusGoesBackWhereItWas()
    {
        QFETCH(int, from);
        QFETCH(QKeySequence, keys);
        QFETCH(bool, asks);
        QFETCH(int, after);
        FocusRig r;
        r.window.RunCreatedHandler();
        r.table.SetCellText(1, 1, QStringLiteral("A1 01"));
        r.ui.SetText(Control::Edit_Learn, QStringLiteral("01 02"));
        r.window.show();
        QVERIFY(QTest::qWaitForWindowActive(&r.window));
        r.ui.SetSelection(Control::Combo_Port, 0);
        QTest::keySequence(&r.window, QKeySequence(Qt::CTRL | Qt::Key_P));
        QVERIFY(r.program.program.link.IsOpen());
        r.W(Control(from))->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), r.W(Control(from)));
        BoxAnswerer answerer;
        QTest::keySequence(QApplication::focusWidget(), keys);
        // The module answers a read with a dump of nothing.
        r.sio.incoming = {QByteArray::fromHex("FD66666666AAABDDBF"), QByteArray::fromHex("FD66666666AAABDEBF")};
        QTRY_VERIFY(r.W(Control::Button_OpenFile)->isEnabled() && r.W(Control::Button_TogglePort)->isEnabled());
        // Offscreen no window manager gives the window its activation back after a box.
        if (QGuiApplication::platformName() == QLatin1String("offscreen")) r.window.activateWindow();
        QTRY_VERIFY(r.window.isActiveWindow());
        QTRY_COMPARE(QApplication::focusWidget(), r.W(Control(after)));
        QCOMPARE(answerer.answered > 0, asks);
    }
};

QTEST_MAIN(FocusTest)
#include "test_focus.moc"
