#include <QtTest>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStyleFactory>
#include <QTimer>

#include "config/ConfigTable.h"
#include "tests/support/ScriptedPresenter.h"
#include "ui/LogBox.h"
#include "ui/MainWindow.h"
#include "ui/QtUiServices.h"
#include "ui/ThemedStyle.h"

namespace {

struct FatalEnd {
    int code;
};

// A window with the services attached; boxes and dialogs answer from a script.
struct Rig {
    ConfigTable table;
    int ticks = 0, clicks = 0;
    MainWindow window{table, [this] {
                          WindowHandlers h;
                          h.receiveTimerTick = [this] { ++ticks; };
                          h.clearDisplayClicked = [this] { ++clicks; };
                          return h;
                      }()};
    ScriptedPresenter* presenter = new ScriptedPresenter;
    QtUiServices ui{std::unique_ptr<BoxPresenter>(presenter)};

    Rig() { ui.Attach(&window); }

    template <class T> T* W(Control c) const { return qobject_cast<T*>(window.Widget(c)); }
    QPlainTextEdit* Log() const { return W<QPlainTextEdit>(Control::Edit_Display); }
};

}  // namespace

class UiServicesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup()
    {
        if (auto* themed = qobject_cast<ThemedStyle*>(qApp->style()))
            qApp->setStyle(QStyleFactory::create(themed->baseStyle()->name()));
    }

    void comboSelectionIsClampedAndFollowedByTheTextField()
    {
        Rig r;
        const Control box = Control::Combo_Port;
        QCOMPARE(r.ui.GetSelection(box), -1);
        r.ui.SetSelection(box, 3);
        QCOMPARE(r.ui.GetSelection(box), -1);  // empty list: any value clears

        QCOMPARE(r.ui.ComboAddItem(box, QStringLiteral("COM1"), 1, QStringLiteral("/dev/ttyS0")), 0);
        QCOMPARE(r.ui.ComboAddItem(box, QStringLiteral("COM2"), 2), 1);
        QCOMPARE(r.ui.ComboAddItem(box, QStringLiteral("COM3")), 2);
        // Adding leaves the box without a choice and with an empty field.
        QCOMPARE(r.ui.GetSelection(box), -1);
        QCOMPARE(r.W<QComboBox>(box)->currentText(), QString());
        QCOMPARE(r.ui.ComboCount(box), 3);
        QCOMPARE(r.W<QComboBox>(box)->itemData(0).toInt(), 1);
        QCOMPARE(r.W<QComboBox>(box)->itemData(2).toInt(), 0);
        QCOMPARE(r.W<QComboBox>(box)->itemData(0, Qt::ToolTipRole).toString(), QStringLiteral("/dev/ttyS0"));
        // The closed box names the chosen item's device too.
        r.ui.SetSelection(box, 0);
        QCOMPARE(r.W<QComboBox>(box)->toolTip(), QStringLiteral("/dev/ttyS0"));
        // The open list may say more of an item than its text, which the field shows.
        r.ui.ComboSetListText(box, 0, QStringLiteral("COM1  /dev/ttyS0 (16550A)"));
        QCOMPARE(r.W<QComboBox>(box)->view()->model()->index(0, 0).data().toString(), QStringLiteral("COM1  /dev/ttyS0 (16550A)"));
        QCOMPARE(r.ui.ComboItemText(box, 0), QStringLiteral("COM1"));
        QCOMPARE(r.W<QComboBox>(box)->currentText(), QStringLiteral("COM1"));

        r.ui.SetSelection(box, 5);
        QCOMPARE(r.ui.GetSelection(box), 2);
        QCOMPARE(r.W<QComboBox>(box)->currentText(), QStringLiteral("COM3"));
        r.ui.SetSelection(box, 1);
        QCOMPARE(r.ui.GetSelection(box), 1);
        r.ui.SetSelection(box, -7);
        QCOMPARE(r.ui.GetSelection(box), -1);
        QCOMPARE(r.W<QComboBox>(box)->toolTip(), QString());
        QCOMPARE(r.W<QComboBox>(box)->currentText(), QString());

        QCOMPARE(r.ui.ComboItemText(box, -1), QString());
        QCOMPARE(r.ui.ComboItemText(box, 3), QString());
        QCOMPARE(r.ui.ComboItemText(box, 1), QStringLiteral("COM2"));

        r.ui.SetSelection(box, 0);
        r.ui.ComboClear(box);
        QCOMPARE(r.ui.ComboCount(box), 0);
        QCOMPARE(r.ui.GetSelection(box), -1);
        QCOMPARE(r.W<QComboBox>(box)->currentText(), QString());
    }

    void typingIntoAComboSelectsAndInsertsNothing()
    {
        Rig r;
        const Control box = Control::Combo_BaudRate;
        for (const char* rate : {"9600", "19200", "38400"}) r.ui.ComboAddItem(box, QString::fromLatin1(rate));
        r.ui.SetSelection(box, 1);
        r.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&r.window));
        QLineEdit* field = r.W<QComboBox>(box)->lineEdit();
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, QStringLiteral("38400"));
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(r.ui.GetSelection(box), -1);
        QCOMPARE(r.ui.ComboCount(box), 3);
        QCOMPARE(field->text(), QStringLiteral("38400"));
        // Leaving the field does not choose either; an arrow key does.
        r.window.Widget(Control::Edit_Learn)->setFocus();
        QCOMPARE(r.ui.GetSelection(box), -1);
        field->setFocus();
        QTest::keyClick(field, Qt::Key_Up);
        QCOMPARE(r.ui.GetSelection(box), 1);
        QCOMPARE(field->text(), QStringLiteral("19200"));
        // Choosing from the program side counts again.
        r.ui.SetSelection(box, 2);
        QCOMPARE(r.ui.GetSelection(box), 2);
    }

    void progressIsClampedToTheBar()
    {
        Rig r;
        auto* bar = r.W<QProgressBar>(Control::ProgressBar1);
        r.ui.SetPosition(Control::ProgressBar1, 150);
        QCOMPARE(bar->value(), 100);
        r.ui.SetPosition(Control::ProgressBar1, -3);
        QCOMPARE(bar->value(), 0);
        r.ui.SetPosition(Control::ProgressBar1, 40000);
        QCOMPARE(bar->value(), 100);
        r.ui.SetPosition(Control::ProgressBar1, 37);
        QCOMPARE(r.ui.GetPosition(Control::ProgressBar1), 37);
    }

    void intervalStartsStopsAndDoesNotRestartOnTheSameValue()
    {
        Rig r;
        QTimer* timer = r.window.ReceiveTimer();
        r.ui.SetInterval(Control::Timer_ReceiveData, -5);
        QCOMPARE(r.ui.GetInterval(Control::Timer_ReceiveData), 0);
        QVERIFY(!timer->isActive());

        // Once more of the period has gone than a restart could hide (a coarse
        // timer is due within 5 % of it), the same value again leaves the tick
        // due where it was; a tick that came meanwhile changes nothing of that.
        r.ui.SetInterval(Control::Timer_ReceiveData, 1000);
        QVERIFY(timer->isActive());
        const int first = timer->remainingTime();
        QTRY_VERIFY(timer->remainingTime() < first - 120);
        const int due = timer->remainingTime();
        r.ui.SetInterval(Control::Timer_ReceiveData, 1000);
        QVERIFY2(timer->remainingTime() <= due, qPrintable(QString::number(timer->remainingTime())));

        r.ui.SetInterval(Control::Timer_ReceiveData, 5);
        QTRY_VERIFY_WITH_TIMEOUT(r.ticks >= 3, 5000);
        r.ui.SetInterval(Control::Timer_ReceiveData, 0);
        QVERIFY(!timer->isActive());
        QCOMPARE(r.ui.GetInterval(Control::Timer_ReceiveData), 0);
    }

    void appendGoesToTheVeryEndAndKeepsTheFocus()
    {
        Rig r;
        r.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&r.window));
        const Control log = Control::Edit_Display;
        r.ui.AppendText(log, QStringLiteral("端口已关闭\r\n"));
        r.ui.AppendText(log, QStringLiteral("abc"));
        QCOMPARE(r.Log()->blockCount(), 2);  // one line break shown for "\r\n"

        // The user types in the middle of the first line, with part of it selected.
        r.Log()->setFocus();
        QTextCursor cursor = r.Log()->textCursor();
        cursor.setPosition(1);
        cursor.setPosition(3, QTextCursor::KeepAnchor);
        r.Log()->setTextCursor(cursor);
        QTest::keyClicks(r.Log(), QStringLiteral("X"));
        QTest::keyClick(r.Log(), Qt::Key_Return);
        cursor = r.Log()->textCursor();
        cursor.setPosition(0);
        cursor.setPosition(2, QTextCursor::KeepAnchor);
        r.Log()->setTextCursor(cursor);

        r.W<QLineEdit>(Control::Edit_Learn)->setFocus();
        r.ui.AppendText(log, QStringLiteral("模块进入配置模式\r\n"));
        QCOMPARE(r.ui.GetText(log), QStringLiteral("端X\r\n关闭\r\nabc模块进入配置模式\r\n"));
        QCOMPARE(r.Log()->textCursor().position(), r.Log()->document()->characterCount() - 1);
        QVERIFY(!r.Log()->textCursor().hasSelection());
        QCOMPARE(QApplication::focusWidget(), r.window.Widget(Control::Edit_Learn));

        // The clear-log action, then texts read back exactly as appended.
        r.ui.SetText(log, QString());
        QCOMPARE(r.ui.GetText(log), QString());
        r.ui.AppendText(log, QStringLiteral("FD 66 \r\n"));
        r.ui.AppendText(log, QStringLiteral("a\u00a0b\r\n\r\n"));
        QCOMPARE(r.ui.GetText(log), QStringLiteral("FD 66 \r\na\u00a0b\r\n\r\n"));

        r.Log()->moveCursor(QTextCursor::Start);
        r.ui.MoveCaretToEnd(log);
        QCOMPARE(r.Log()->textCursor().position(), r.Log()->document()->characterCount() - 1);
    }

    void longLogFollowsTheEnd()
    {
        Rig r;
        r.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&r.window));
        for (int i = 0; i < 200; ++i) r.ui.AppendText(Control::Edit_Display, QStringLiteral("line %1\r\n").arg(i));
        QScrollBar* bar = r.Log()->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), bar->maximum());
    }

    void logKeepsTheNewestLinesUpToItsBound()
    {
        Rig r;
        const int lines = MainWindow::kMaxLogLines + 100;
        for (int i = 0; i < lines; ++i) r.ui.AppendText(Control::Edit_Display, QStringLiteral("line %1\r\n").arg(i));
        const QString log = r.ui.GetText(Control::Edit_Display);
        QVERIFY(log.endsWith(QStringLiteral("\r\nline %1\r\n").arg(lines - 1)));
        QVERIFY(log.startsWith(QStringLiteral("line 101\r\nline 102\r\n")));
        QCOMPARE(log.count(QStringLiteral("\r\n")), MainWindow::kMaxLogLines - 1);

        // Long lines (noise shown as hex) are bounded by their characters too.
        r.ui.SetText(Control::Edit_Display, QString());
        const QString hex = QStringLiteral("AB ").repeated(1000);
        const int longLines = MainWindow::kMaxLogCharacters / 3000 + 50;
        for (int i = 0; i < longLines; ++i) r.ui.AppendText(Control::Edit_Display, QString::number(i) + hex + QStringLiteral("\r\n"));
        const QString kept = r.ui.GetText(Control::Edit_Display);
        QVERIFY(kept.size() <= MainWindow::kMaxLogCharacters + 2 * 3003);
        QVERIFY(kept.size() >= MainWindow::kMaxLogCharacters / 2);
        QVERIFY(kept.endsWith(QString::number(longLines - 1) + hex + QStringLiteral("\r\n")));
        const QString first = kept.left(kept.indexOf(QStringLiteral("\r\n")));
        QVERIFY(QRegularExpression(QStringLiteral("^\\d+(AB ){1000}$")).match(first).hasMatch());  // whole lines only
        QCOMPARE(r.Log()->textCursor().position(), r.Log()->document()->characterCount() - 1);
    }

    void messageBoxFormsAndResults()
    {
        Rig r;
        r.presenter->answers = {QMessageBox::Ok, QMessageBox::Cancel, QMessageBox::Yes, QMessageBox::NoButton};
        QCOMPARE(r.ui.ShowMessageBox(QStringLiteral("无可用端口"), MessageBoxFlags::Ok), 0);
        QCOMPARE(r.ui.ShowMessageBox(QStringLiteral("将从模块读取数据到配置软件，数据将被替换"), MessageBoxFlags::OkCancel,
                                     QStringLiteral("读取模块")),
                 1);
        QCOMPARE(r.ui.ShowMessageBox(QStringLiteral("?"), 4), 5);
        QCOMPARE(r.ui.ShowMessageBox(QStringLiteral("a\r\nb"), MessageBoxFlags::Ok, QStringLiteral("错误")), 0);

        const auto& b = r.presenter->boxes;
        QCOMPARE(b.size(), 4);
        QCOMPARE(b[0].caption, QStringLiteral("信息："));
        QCOMPARE(b[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(b[0].icon, QMessageBox::NoIcon);
        QCOMPARE(b[1].caption, QStringLiteral("读取模块"));
        QCOMPARE(b[1].buttons, QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(b[2].buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(b[3].caption, QStringLiteral("错误"));
        QCOMPARE(b[3].text, QStringLiteral("a\nb"));

        QCOMPARE(MessageBoxResultFor(QMessageBox::Abort), 2);
        QCOMPARE(MessageBoxResultFor(QMessageBox::Retry), 3);
        QCOMPARE(MessageBoxResultFor(QMessageBox::Ignore), 4);
        QCOMPARE(MessageBoxResultFor(QMessageBox::No), 6);
        QCOMPARE(MessageBoxResultFor(QMessageBox::Help), 0);
    }

    void withNobodyThereBoxesAndDialogsDoNotWait()
    {
        Rig r;
        r.ui.SetUnattended(true);
        QCOMPARE(r.ui.ShowMessageBox(QStringLiteral("保存成功！"), MessageBoxFlags::Ok), MessageBoxResult::Ok);
        QCOMPARE(r.ui.ShowMessageBox(QStringLiteral("将从模块读取数据到配置软件，数据将被替换"), MessageBoxFlags::OkCancel,
                                     QStringLiteral("读取模块")),
                 MessageBoxResult::Cancel);
        QCOMPARE(r.ui.ShowFileDialog(), 0);
        QVERIFY(r.presenter->boxes.isEmpty());
        QVERIFY(r.presenter->dialogs.isEmpty());
    }

    void realBoxIsApplicationModalAndEscapeMeansCancel()
    {
        // The real box, answered by a key press once it shows.
        auto pressOnBox = [](int key, QString* caption, bool* appModal) {
            QTimer* poll = new QTimer;
            QObject::connect(poll, &QTimer::timeout, poll, [=] {
                QWidget* box = QApplication::activeModalWidget();
                if (!box) return;
                *caption = box->windowTitle();
                *appModal = box->windowModality() == Qt::ApplicationModal;
                QTest::keyClick(box, Qt::Key(key));
                poll->deleteLater();
            });
            poll->start(20);
        };
        DialogBoxPresenter real;
        QString caption;
        bool appModal = false;
        pressOnBox(Qt::Key_Escape, &caption, &appModal);
        QCOMPARE(MessageBoxResultFor(real.ShowMessage(MessageBoxRequestFor(QStringLiteral("清空?"), 1, QStringLiteral("清空模块")))),
                 MessageBoxResult::Cancel);
        QCOMPARE(caption, QStringLiteral("清空模块"));
        QVERIFY(appModal);

        pressOnBox(Qt::Key_Escape, &caption, &appModal);
        QCOMPARE(MessageBoxResultFor(real.ShowMessage(MessageBoxRequestFor(QStringLiteral("notice"), 0, QString()))),
                 MessageBoxResult::Ok);
        QCOMPARE(caption, QStringLiteral("信息："));

        pressOnBox(Qt::Key_Return, &caption, &appModal);
        QCOMPARE(MessageBoxResultFor(real.ShowMessage(MessageBoxRequestFor(QStringLiteral("go?"), 1, QStringLiteral("读取模块")))),
                 MessageBoxResult::Ok);
    }

    void fileDialogRemembersTheLastConfirmedName()
    {
        Rig r;
        r.ui.SetDialogKind(0);
        r.ui.SetDefaultExtension(QStringLiteral(".dat"));
        r.presenter->choices = {QStringLiteral("/tmp/a/config.dat"), QString(), QStringLiteral("/tmp/b.dat")};
        QCOMPARE(r.ui.ShowFileDialog(), 1);
        QCOMPARE(r.ui.GetFileName(), QStringLiteral("/tmp/a/config.dat"));

        r.ui.SetDialogKind(1);
        QCOMPARE(r.ui.ShowFileDialog(), 0);  // cancelled
        QCOMPARE(r.ui.GetFileName(), QStringLiteral("/tmp/a/config.dat"));

        r.ui.SetDialogKind(7);  // clamped to 3, which is neither open nor save
        QCOMPARE(r.ui.ShowFileDialog(), 1);
        QCOMPARE(r.ui.GetFileName(), QStringLiteral("/tmp/b.dat"));

        const auto& d = r.presenter->dialogs;
        QCOMPARE(d.size(), 3);
        QVERIFY(!d[0].save);
        QCOMPARE(d[0].defaultExtension, QStringLiteral(".dat"));
        QCOMPARE(d[0].initialName, QString());
        QVERIFY(d[1].save);
        QCOMPARE(d[1].initialName, QStringLiteral("/tmp/a/config.dat"));
        QVERIFY(!d[2].save);
        QCOMPARE(d[2].initialName, QStringLiteral("/tmp/a/config.dat"));
        QCOMPARE(r.window.FileDialog()->fileName, QStringLiteral("/tmp/b.dat"));
    }

    void fatalReportShowsItsTextAndEndsWithMinusOne()
    {
        QCOMPARE(FatalReportText(-1, QStringLiteral("载入启动窗口失败"), QStringLiteral("main")),
                 QStringLiteral("运行时出错!\r\n\r\n错误信息：载入启动窗口失败\r\nmain\r\n"));
        QCOMPARE(FatalReportText(6, QStringLiteral("调用DLL命令后发现堆栈错误"), QStringLiteral("ReceiveTick")),
                 QStringLiteral("运行时出错!\r\n\r\n错误代码：6\r\n\r\n错误信息：调用DLL命令后发现堆栈错误\r\nReceiveTick\r\n"));
        QCOMPARE(FatalReportText(1, QString(), QStringLiteral("x")), QStringLiteral("运行时出错!\r\n\r\n错误代码：1\r\nx\r\n"));

        Rig r;
        r.ui.SetInterval(Control::Timer_ReceiveData, 10);
        r.ui.SetProcessExit([](int code) { throw FatalEnd{code}; });
        // While the report shows, neither ticks nor clicks reach the program.
        r.presenter->answers = {QMessageBox::Ok};
        int exitCode = 0;
        try {
            r.ui.FatalReport(-1, QStringLiteral("无法找到指定DLL库文件“\\DLL\\PCOMM.DLL”中的输出命令“sio_open”"),
                             QStringLiteral("SerialLibrary::Bind(4 sio_open)"));
        } catch (const FatalEnd& end) {
            exitCode = end.code;
        }
        QCOMPARE(exitCode, -1);
        QCOMPARE(r.presenter->boxes.size(), 1);
        QCOMPARE(r.presenter->boxes[0].caption, QStringLiteral("错误"));
        QCOMPARE(r.presenter->boxes[0].icon, QMessageBox::Critical);
        QCOMPARE(r.presenter->boxes[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QVERIFY(r.presenter->boxes[0].text.startsWith(QStringLiteral("运行时出错!\n\n错误信息：无法找到")));
        QVERIFY(!r.window.ReceiveTimer()->isActive());
        r.W<QPushButton>(Control::Button_ClearDisplay)->click();
        QCOMPARE(r.clicks, 0);
        // A tick already queued is delivered now, and none comes later: the timer is stopped.
        const int ticksBefore = r.ticks;
        QCoreApplication::processEvents();
        QCOMPARE(r.ticks, ticksBefore);
    }

    void themeDrawsFramesInTheSchemeColour()
    {
        Rig r;
        QCOMPARE(r.ui.ApplyTheme(2), 1);
        r.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&r.window));
        auto* enabled = r.W<QPushButton>(Control::Button_OpenFile);
        auto* disabled = r.W<QPushButton>(Control::Button_WriteModule);
        r.ui.SetDisabled(Control::Button_WriteModule, true);
        const QColor face = qApp->palette().color(QPalette::Button);
        const QImage on = enabled->grab().toImage();
        const QImage off = disabled->grab().toImage();
        QCOMPARE(on.pixelColor(0, on.height() / 2), QColor(164, 185, 127));
        QCOMPARE(off.pixelColor(0, off.height() / 2),
                 QColor(qMax(face.red() - 32, 0), qMax(face.green() - 32, 0), qMax(face.blue() - 32, 0)));
        // Edit boxes, combo boxes and the group box are framed alike.
        for (Control c : {Control::Edit_Learn, Control::Edit_Display, Control::Combo_Port, Control::GroupBox1}) {
            const QImage image = r.window.Widget(c)->grab().toImage();
            const int x = c == Control::GroupBox1 ? image.width() - 1 : 0;
            QCOMPARE(image.pixelColor(x, image.height() / 2), QColor(164, 185, 127));
        }

        QCOMPARE(r.ui.ApplyTheme(0), 0);
        QVERIFY(!qobject_cast<ThemedStyle*>(qApp->style()));
        QVERIFY(enabled->grab().toImage().pixelColor(0, on.height() / 2) != QColor(164, 185, 127));
        QCOMPARE(r.ui.ApplyTheme(1), 1);
        QCOMPARE(enabled->grab().toImage().pixelColor(0, on.height() / 2), QColor(123, 158, 189));
    }

    void controlsAnswerForEnabledStateCaptionsAndTexts()
    {
        Rig r;
        r.ui.SetDisabled(Control::Button_Learn, true);
        QVERIFY(r.ui.IsDisabled(Control::Button_Learn));
        QVERIFY(!r.window.Widget(Control::Button_Learn)->isEnabled());
        r.ui.SetDisabled(Control::Button_Learn, false);
        QVERIFY(!r.ui.IsDisabled(Control::Button_Learn));

        // A button disabled while it has the focus gets it back when enabled,
        // unless the user has put it elsewhere meanwhile.
        r.window.show();
        QVERIFY(QTest::qWaitForWindowActive(&r.window));
        QWidget* port = r.window.Widget(Control::Button_TogglePort);
        for (bool userMoves : {false, true}) {
            port->setFocus();
            QTRY_VERIFY(port->hasFocus());
            r.ui.SetDisabled(Control::Button_TogglePort, true);
            QVERIFY(!port->hasFocus());
            if (userMoves) r.window.Widget(Control::Edit_Learn)->setFocus();
            r.ui.SetDisabled(Control::Button_TogglePort, false);
            QCOMPARE(QApplication::focusWidget(), userMoves ? r.window.Widget(Control::Edit_Learn) : port);
        }

        // No mnemonics: an ampersand is shown and read back as itself.
        r.ui.SetCaption(Control::Button_TogglePort, QStringLiteral("关&闭"));
        QCOMPARE(r.ui.GetCaption(Control::Button_TogglePort), QStringLiteral("关&闭"));
        QCOMPARE(r.W<QPushButton>(Control::Button_TogglePort)->text(), QStringLiteral("关&&闭"));
        QVERIFY(r.W<QPushButton>(Control::Button_TogglePort)->shortcut().isEmpty());

        r.ui.SetTitle(QStringLiteral("Velmora-自定义设备版   /x/data.dat"));
        QCOMPARE(r.window.windowTitle(), QStringLiteral("Velmora-自定义设备版   /x/data.dat"));
        QCOMPARE(r.ui.GetTitle(), r.window.windowTitle());
        QCOMPARE(r.ui.GetText(Control::Edit_Learn),
                 QStringLiteral("DIY生成的设备，长按需要学习的按钮，在倒计时结束前上报需要学习的数据。"));
        r.ui.SetText(Control::Edit_Learn, QStringLiteral("fd 01"));
        QCOMPARE(r.ui.GetText(Control::Edit_Learn), QStringLiteral("fd 01"));
    }

    void deliverMessagesRunsPendingWorkAndSleepsUntilWoken()
    {
        Rig r;
        bool ran = false;
        QTimer::singleShot(0, [&] { ran = true; });
        r.ui.DeliverMessages(0);
        QVERIFY(ran);

        // A pause built from DeliverMessages lets a due timer run inside it.
        bool fired = false;
        QTimer::singleShot(30, [&] { fired = true; });
        const quint32 start = r.ui.TickCount();
        while (!fired && r.ui.TickCount() - start < 5000) r.ui.DeliverMessages(100);
        QVERIFY(fired);
        QVERIFY(r.ui.TickCount() - start >= 25);
    }

    void theLogIsSavedAsUtf8TextFromItsContextMenu()
    {
        Rig r;
        QTemporaryDir dir;
        r.ui.AppendText(Control::Edit_Display, QStringLiteral("打开端口: COM1 9600\r\n"));
        r.ui.AppendText(Control::Edit_Display, QStringLiteral("FD 66 \r\n"));

        // The entry comes last, after copy and select-all.
        std::unique_ptr<QMenu> menu(r.window.Log()->MakeContextMenu(QPoint()));
        QAction* save = menu->actions().last();
        QCOMPARE(save->text(), QStringLiteral("保存日志…"));
        QVERIFY(save->isEnabled());

        const QString path = dir.filePath(QStringLiteral("log.txt"));
        r.presenter->choices = {path};
        save->trigger();
        QCOMPARE(r.presenter->dialogs.size(), 1);
        const FileDialogRequest& asked = r.presenter->dialogs.first();
        QVERIFY(asked.save);
        QVERIFY(asked.initialName.endsWith(QStringLiteral(".txt")));
        const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        QVERIFY(asked.initialName.startsWith(QFileInfo(documents).isDir() ? documents : QDir::homePath()));
        QFile saved(path);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), QStringLiteral("打开端口: COM1 9600\nFD 66 \n").toUtf8());
        QVERIFY(r.presenter->boxes.isEmpty());
        // The log itself is untouched.
        QCOMPARE(r.ui.GetText(Control::Edit_Display), QStringLiteral("打开端口: COM1 9600\r\nFD 66 \r\n"));

        // A place that cannot be written: a notice names it.
        const QString nowhere = dir.filePath(QStringLiteral("missing/log.txt"));
        r.presenter->choices = {nowhere};
        save->trigger();
        QCOMPARE(r.presenter->boxes.size(), 1);
        QCOMPARE(r.presenter->boxes.first().caption, QStringLiteral("信息："));
        QVERIFY(r.presenter->boxes.first().text.startsWith(QStringLiteral("日志保存失败：") + nowhere + " ("));
        QVERIFY(!QFile::exists(nowhere));
    }

    void logTimesItsLinesWhenAskedAndFindsInThem()
    {
        Rig r;
        r.ui.AppendText(Control::Edit_Display, QStringLiteral("打开端口: COM1 9600\r\n"));
        std::unique_ptr<QMenu> menu(r.window.Log()->MakeContextMenu(QPoint()));
        QAction* times = nullptr;
        for (QAction* a : menu->actions())
            if (a->objectName() == QLatin1String("timestamps")) times = a;
        QVERIFY(times && times->isCheckable() && !times->isChecked());
        times->trigger();
        QVERIFY(r.ui.LogTimestamps());
        // Each line that begins gets the time; a line continued does not.
        r.ui.AppendText(Control::Edit_Display, QStringLiteral("FD 66 "));
        r.ui.AppendText(Control::Edit_Display, QStringLiteral("BF \r\n\r\n模块进入配置模式\r\n"));
        const QString stamp = QStringLiteral("\\[\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d\\] ");
        QVERIFY2(QRegularExpression(QStringLiteral("^打开端口: COM1 9600\r\n") + stamp + QStringLiteral("FD 66 BF \r\n\r\n")
                                    + stamp + QStringLiteral("模块进入配置模式\r\n$"))
                     .match(r.ui.GetText(Control::Edit_Display))
                     .hasMatch(),
                 qPrintable(r.ui.GetText(Control::Edit_Display)));
        r.ui.SetLogTimestamps(false);
        r.ui.AppendText(Control::Edit_Display, QStringLiteral("已发送读取指令\r\n"));
        QVERIFY(r.ui.GetText(Control::Edit_Display).endsWith(QStringLiteral("模式\r\n已发送读取指令\r\n")));

        // Ctrl+F anywhere in the window opens the find bar; it goes round the end; Esc closes it.
        r.window.show();
        QVERIFY(QTest::qWaitForWindowActive(&r.window));
        r.W<QWidget>(Control::Edit_Learn)->setFocus();
        QTest::keySequence(&r.window, QKeySequence::Find);
        QDialog* bar = r.window.Log()->FindBar();
        QTRY_VERIFY(bar->isVisible());
        auto* text = bar->findChild<QLineEdit*>(QStringLiteral("find-text"));
        QTRY_VERIFY(text->hasFocus());
        text->insert(QStringLiteral("模"));
        QTest::keyClick(text, Qt::Key_Return);
        QCOMPARE(r.Log()->textCursor().selectedText(), QStringLiteral("模"));
        const int first = r.Log()->textCursor().position();
        bar->findChild<QPushButton*>(QStringLiteral("find-next"))->click();
        QVERIFY(r.Log()->textCursor().position() > first);
        bar->findChild<QPushButton*>(QStringLiteral("find-next"))->click();  // round the end
        QCOMPARE(r.Log()->textCursor().position(), first);
        bar->findChild<QPushButton*>(QStringLiteral("find-previous"))->click();
        QVERIFY(r.Log()->textCursor().position() > first);
        text->setText(QStringLiteral("COM9"));
        QTest::keyClick(text, Qt::Key_Return);
        QCOMPARE(bar->findChild<QLabel*>(QStringLiteral("find-status"))->text(), QStringLiteral("找不到"));
        QTest::keyClick(text, Qt::Key_Escape);
        QTRY_VERIFY(!bar->isVisible());
    }
};

QTEST_MAIN(UiServicesTest)
#include "test_uiservices.moc"
