#include "ui/QtUiServices.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QStandardPaths>
#include <QStyleFactory>
#include <QTextBlock>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "config/FilePlace.h"
#include "core/FileNames.h"
#include "core/Texts.h"
#include "ui/Captions.h"
#include "ui/ConfigGridView.h"
#include "ui/ListComboBox.h"
#include "ui/LogBox.h"
#include "ui/MainWindow.h"
#include "ui/ThemedStyle.h"

namespace {

// The program writes "\r\n" line breaks; the log box shows each as one break
// and gives it back as "\r\n", so what was appended reads back unchanged.
QString ToDisplay(const QString& text)
{
    QString out = text;
    out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    out.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return out;
}

QString FromDisplay(QString text)
{
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    text.replace(QChar::LineSeparator, QLatin1Char('\n'));
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return text;
}


}  // namespace

MessageBoxRequest MessageBoxRequestFor(const QString& text, int flags, const QString& caption)
{
    MessageBoxRequest r;
    r.text = ToDisplay(text);
    r.caption = caption.isEmpty() ? Texts::tr("信息：") : caption;
    switch (flags & 0xF) {
    case 1: r.buttons = QMessageBox::Ok | QMessageBox::Cancel; break;
    case 2: r.buttons = QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore; break;
    case 3: r.buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel; break;
    case 4: r.buttons = QMessageBox::Yes | QMessageBox::No; break;
    case 5: r.buttons = QMessageBox::Retry | QMessageBox::Cancel; break;
    default: r.buttons = QMessageBox::Ok; break;
    }
    switch (flags & 0xF0) {
    case 0x10: r.icon = QMessageBox::Critical; break;
    case 0x20: r.icon = QMessageBox::Question; break;
    case 0x30: r.icon = QMessageBox::Warning; break;
    case 0x40: r.icon = QMessageBox::Information; break;
    default: r.icon = QMessageBox::NoIcon; break;
    }
    return r;
}

int MessageBoxResultFor(QMessageBox::StandardButton button)
{
    switch (button) {
    case QMessageBox::Ok: return MessageBoxResult::Ok;
    case QMessageBox::Cancel: return MessageBoxResult::Cancel;
    case QMessageBox::Abort: return MessageBoxResult::Abort;
    case QMessageBox::Retry: return MessageBoxResult::Retry;
    case QMessageBox::Ignore: return MessageBoxResult::Ignore;
    case QMessageBox::Yes: return MessageBoxResult::Yes;
    case QMessageBox::No: return MessageBoxResult::No;
    default: return MessageBoxResult::Ok;
    }
}

QString FatalReportText(int code, const QString& message, const QString& where)
{
    QString text = Texts::tr("运行时出错!") + QStringLiteral("\r\n");
    if (code >= 0) text += QStringLiteral("\r\n") + Texts::tr("错误代码：%1").arg(code) + QStringLiteral("\r\n");
    if (!message.isEmpty()) text += QStringLiteral("\r\n") + Texts::tr("错误信息：%1").arg(message) + QStringLiteral("\r\n");
    text += where + QStringLiteral("\r\n");
    return text;
}

QtUiServices::QtUiServices(std::unique_ptr<BoxPresenter> presenter)
    : presenter_(presenter ? std::move(presenter) : std::make_unique<DialogBoxPresenter>()),
      exitProcess_([](int code) {
          std::fflush(nullptr);
          std::_Exit(code);
      })
{
}

QtUiServices::~QtUiServices() = default;

void QtUiServices::Attach(MainWindow* window)
{
    if (window_) {
        window_->Log()->SetSaveLog(nullptr);
        window_->Grid()->SetShowNotice(nullptr);
    }
    window_ = window;
    if (!window) return;
    window->Log()->SetSaveLog([this] { SaveLog(); });
    window->Grid()->SetShowNotice([this](const QString& text) { ShowMessageBox(text, MessageBoxFlags::Ok); });
}


void QtUiServices::SetProcessExit(std::function<void(int)> exitProcess) { exitProcess_ = std::move(exitProcess); }

ListComboBox* QtUiServices::ComboOf(Control c) const { return window_ ? window_->Combo(c) : nullptr; }

QWidget* QtUiServices::WidgetOf(Control c) const
{
    if (!window_) return nullptr;
    if (c == Control::MainWindow) return window_;
    return window_->Widget(c);
}

namespace {

// The controls an operation greys while it runs: the module buttons, the
// port button and the file buttons.
bool GreyedByOperations(Control c)
{
    switch (c) {
    case Control::Button_SetBaudRate:
    case Control::Button_Learn:
    case Control::Button_ClearModule:
    case Control::Button_ReadModule:
    case Control::Button_WriteModule:
    case Control::Button_TogglePort:
    case Control::Button_OpenFile:
    case Control::Button_SaveFile:
    case Control::Button_SaveAs: return true;
    default: return false;
    }
}

}  // namespace

void QtUiServices::SetDisabled(Control c, bool disabled)
{
    QWidget* w = WidgetOf(c);
    if (!w) return;
    if (!disabled) {
        w->setEnabled(true);
        GiveFocusBack(false);
        FocusSettleLater();
        return;
    }
    // The first of them to go grey starts an operation (or closes the port):
    // the focus is to come back where the window has it now. That is the
    // window's own focus, not the application's: the operation's confirmation
    // box may still hold that.
    if (GreyedByOperations(c) && !holdingFocus_) {
        holdingFocus_ = true;
        focusBefore_ = window_->focusWidget();
        focusOwnButton_ = window_->ButtonBeingClicked();
        focusMovedTo_ = nullptr;
    }
    const bool hadFocus = window_->focusWidget() == w;
    w->setEnabled(false);
    // Qt hands the focus on to the next control; note where, so that it is
    // known whether the user has moved it since.
    if (hadFocus) focusMovedTo_ = window_->focusWidget();
    FocusSettleLater();
}

void QtUiServices::FocusSettleLater()
{
    if (!holdingFocus_ || focusSettlePending_ || !window_) return;
    // An operation greys and enables its controls one at a time; they are
    // judged once the program is back to waiting for events.
    focusSettlePending_ = true;
    QTimer::singleShot(0, window_.data(), [this] {
        focusSettlePending_ = false;
        GiveFocusBack(true);
    });
}

void QtUiServices::GiveFocusBack(bool settled)
{
    if (!holdingFocus_ || !window_) return;
    const auto usable = [](QWidget* w) { return w && w->isEnabled() && w->isVisible(); };
    QWidget* back = usable(focusBefore_)                 ? focusBefore_.data()
                  : settled && usable(focusOwnButton_) ? focusOwnButton_.data()
                                                         : nullptr;
    // Neither is there yet: wait for the next change (with nothing to wait for, let go).
    if (!back) {
        holdingFocus_ = focusBefore_ || focusOwnButton_;
        return;
    }
    holdingFocus_ = false;
    // Where the user put it meanwhile, it stays.
    QWidget* now = window_->focusWidget();
    if (!now || now == focusMovedTo_ || !now->isEnabled()) back->setFocus(Qt::OtherFocusReason);
}

void QtUiServices::SetReadOnly(Control c, bool readOnly)
{
    if (c == Control::ConfigGrid && window_) window_->Grid()->SetReadOnly(readOnly);
}

bool QtUiServices::IsDisabled(Control c) const
{
    QWidget* w = WidgetOf(c);
    return w && !w->isEnabled();
}

void QtUiServices::SetCaption(Control c, const QString& text)
{
    QWidget* w = WidgetOf(c);
    if (auto* button = qobject_cast<QAbstractButton*>(w)) button->setText(CaptionForQt(text));
    else if (auto* group = qobject_cast<QGroupBox*>(w)) group->setTitle(CaptionForQt(text));
    else if (auto* label = qobject_cast<QLabel*>(w)) label->setText(text);
    else if (c == Control::MainWindow && w) w->setWindowTitle(text);
}

QString QtUiServices::GetCaption(Control c) const
{
    QWidget* w = WidgetOf(c);
    if (auto* button = qobject_cast<QAbstractButton*>(w)) return CaptionFromQt(button->text());
    if (auto* group = qobject_cast<QGroupBox*>(w)) return CaptionFromQt(group->title());
    if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
    if (c == Control::MainWindow && w) return w->windowTitle();
    return QString();
}

QString QtUiServices::GetTitle() const { return window_ ? window_->windowTitle() : QString(); }

void QtUiServices::SetTitle(const QString& text)
{
    if (window_) window_->setWindowTitle(text);
}

QString QtUiServices::GetText(Control c) const
{
    QWidget* w = WidgetOf(c);
    if (auto* box = qobject_cast<QPlainTextEdit*>(w)) return FromDisplay(box->document()->toRawText());
    if (auto* line = qobject_cast<QLineEdit*>(w)) return line->text();
    if (auto* combo = qobject_cast<QComboBox*>(w)) return combo->currentText();
    return QString();
}

void QtUiServices::SetText(Control c, const QString& text)
{
    QWidget* w = WidgetOf(c);
    if (auto* box = qobject_cast<QPlainTextEdit*>(w)) box->setPlainText(ToDisplay(text));
    else if (auto* line = qobject_cast<QLineEdit*>(w)) line->setText(text);
    else if (auto* combo = qobject_cast<QComboBox*>(w)) combo->setEditText(text);
}

namespace {

// Drops whole lines from the top once the document holds more than
// `maxCharacters`; a tenth more goes at once, so it is not done at every line.
void DropOldestLines(QTextDocument* document, int maxCharacters)
{
    if (document->characterCount() <= maxCharacters) return;
    const int target = maxCharacters - maxCharacters / 10;
    int dropped = 0;
    QTextBlock block = document->begin();
    while (block.isValid() && block.next().isValid() && document->characterCount() - dropped > target) {
        dropped += block.length();
        block = block.next();
    }
    QTextCursor cursor(document);
    cursor.setPosition(block.position(), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
}

}  // namespace

void QtUiServices::AppendText(Control c, const QString& text)
{
    QWidget* w = WidgetOf(c);
    if (auto* box = qobject_cast<QPlainTextEdit*>(w)) {
        // Whatever the user selected or where the caret was: the text goes to
        // the very end, the caret follows it, and the focus stays where it is.
        QTextCursor cursor(box->document());
        cursor.movePosition(QTextCursor::End);
        auto* log = qobject_cast<LogBox*>(box);
        cursor.insertText(log ? log->Stamped(ToDisplay(text)) : ToDisplay(text));
        if (c == Control::Edit_Display) DropOldestLines(box->document(), MainWindow::kMaxLogCharacters);
        box->setTextCursor(cursor);
        box->ensureCursorVisible();
    } else if (auto* line = qobject_cast<QLineEdit*>(w)) {
        line->setText(line->text() + text);
        line->end(false);
    }
}

bool QtUiServices::LogTimestamps() const { return window_ && window_->Log()->Timestamps(); }

void QtUiServices::SetLogTimestamps(bool on)
{
    if (window_) window_->Log()->SetTimestamps(on);
}

void QtUiServices::MoveCaretToEnd(Control c)
{
    QWidget* w = WidgetOf(c);
    if (auto* box = qobject_cast<QPlainTextEdit*>(w)) {
        box->moveCursor(QTextCursor::End);
        box->ensureCursorVisible();
    } else if (auto* line = qobject_cast<QLineEdit*>(w)) {
        line->end(false);
    }
}

void QtUiServices::ComboClear(Control c)
{
    if (ListComboBox* combo = ComboOf(c)) combo->Clear();
}

int QtUiServices::ComboAddItem(Control c, const QString& text, int data, const QString& toolTip)
{
    ListComboBox* combo = ComboOf(c);
    return combo ? combo->Append(text, data, toolTip) : -1;
}

void QtUiServices::ComboSetListText(Control c, int index, const QString& text)
{
    if (ListComboBox* combo = ComboOf(c)) combo->SetListText(index, text);
}

int QtUiServices::ComboCount(Control c) const
{
    ListComboBox* combo = ComboOf(c);
    return combo ? combo->count() : 0;
}

QString QtUiServices::ComboItemText(Control c, int index) const
{
    ListComboBox* combo = ComboOf(c);
    if (!combo || index < 0 || index >= combo->count()) return QString();
    return combo->itemText(index);
}

int QtUiServices::GetSelection(Control c) const
{
    ListComboBox* combo = ComboOf(c);
    return combo ? combo->SelectedIndex() : -1;
}

void QtUiServices::SetSelection(Control c, int index)
{
    ListComboBox* combo = ComboOf(c);
    if (!combo) return;
    const int last = combo->count() - 1;
    if (index < -1) index = -1;
    if (index > last) index = last;
    combo->Select(index);
}

void QtUiServices::SetPosition(Control c, int value)
{
    auto* bar = qobject_cast<QProgressBar*>(WidgetOf(c));
    if (!bar) return;
    value = qBound(0, value, 32767);
    bar->setValue(qBound(bar->minimum(), value, bar->maximum()));
}

int QtUiServices::GetPosition(Control c) const
{
    auto* bar = qobject_cast<QProgressBar*>(WidgetOf(c));
    return bar ? bar->value() : 0;
}

void QtUiServices::SetInterval(Control c, int ms)
{
    if (c != Control::Timer_ReceiveData || !window_) return;
    if (ms < 0) ms = 0;
    if (ms == interval_) return;
    interval_ = ms;
    QTimer* timer = window_->ReceiveTimer();
    timer->stop();
    if (ms > 0) timer->start(ms);
}

int QtUiServices::GetInterval(Control c) const { return c == Control::Timer_ReceiveData ? interval_ : 0; }

int QtUiServices::ShowMessageBox(const QString& text, int flags, const QString& caption)
{
    const MessageBoxRequest request = MessageBoxRequestFor(text, flags, caption);
    if (unattended_)
        return MessageBoxResultFor(request.buttons.testFlag(QMessageBox::Cancel) ? QMessageBox::Cancel : QMessageBox::Ok);
    // Every box is application-modal, whatever modality the flags ask for.
    return MessageBoxResultFor(presenter_->ShowMessage(request));
}

// The dialog's settings live in the window's file dialog and nowhere else;
// without a window there is no dialog to show.
void QtUiServices::SetDialogKind(int kind)
{
    if (window_) window_->FileDialog()->kind = qBound(0, kind, 3);
}

void QtUiServices::SetDefaultExtension(const QString& ext)
{
    if (window_) window_->FileDialog()->defaultExtension = ext;
}

int QtUiServices::ShowFileDialog()
{
    if (!window_ || unattended_) return 0;
    CommonFileDialog* dialog = window_->FileDialog();
    FileDialogRequest request;
    request.save = dialog->kind == 1;
    request.defaultExtension = dialog->defaultExtension;
    request.initialName = dialog->fileName;
    QString chosen;
    if (!presenter_->ShowFileDialog(request, &chosen) || chosen.isEmpty()) return 0;
    // The window may have closed while the dialog showed.
    if (window_) window_->FileDialog()->fileName = chosen;
    return 1;
}

QString QtUiServices::GetFileName() const { return window_ ? window_->FileDialog()->fileName : QString(); }

void QtUiServices::SaveLog()
{
    if (!window_) return;
    const QString text = window_->Log()->toPlainText();
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) folder = QDir::homePath();
    FileDialogRequest request;
    request.save = true;
    request.defaultExtension = QStringLiteral(".txt");
    request.nameFilter = Texts::tr("文本文件 (*.txt)") + QStringLiteral(";;") + Texts::tr("所有文件 (*)");
    request.initialName = QDir(folder).filePath(
        QStringLiteral("velmora-log-%1.txt").arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"))));
    QString chosen;
    if (!presenter_->ShowFileDialog(request, &chosen) || chosen.isEmpty()) return;
    // Written as the table is: whole, never through a link another user planted, with the reason when not.
    QString why;
    if (IsFaithfulFileName(chosen) && WriteFileContent(chosen, text.toUtf8(), &why)) return;
    if (why.isEmpty()) why = QStringLiteral("its name holds bytes that are not UTF-8");
    MessageBoxRequest failed = MessageBoxRequestFor(Texts::tr("日志保存失败：%1").arg(chosen + QStringLiteral(" (") + why + QLatin1Char(')')),
                                                    MessageBoxFlags::Ok, QString());
    presenter_->ShowMessage(failed);
}

int QtUiServices::ApplyTheme(int variant)
{
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app) return 0;
    const QColor frame = ThemeFrameColour(variant);
    auto* themed = qobject_cast<ThemedStyle*>(app->style());
    const QString baseName = (themed ? themed->baseStyle() : app->style())->name();
    if (!frame.isValid()) {
        if (themed) app->setStyle(QStyleFactory::create(baseName));
        return 0;
    }
    const QColor face = app->palette().color(QPalette::Button);
    const QColor disabled(qMax(face.red() - 32, 0), qMax(face.green() - 32, 0), qMax(face.blue() - 32, 0));
    if (themed) {
        // Recolouring is enough. A new application style would make every
        // control polish itself again and the combo boxes build their lists.
        themed->SetColours(frame, disabled);
        for (QWidget* w : QApplication::allWidgets()) w->update();
        return 1;
    }
    // Controls made later get the look too: it is the application's style.
    app->setStyle(new ThemedStyle(QStyleFactory::create(baseName), frame, disabled));
    return 1;
}

void QtUiServices::FatalReport(int code, const QString& message, const QString& where)
{
    // From here on no handler of the window runs; the box's own loop would
    // otherwise deliver ticks and clicks to a program that is ending.
    if (window_) {
        window_->SetHandlersBlocked(true);
        window_->ReceiveTimer()->stop();
    }
    const QString text = FatalReportText(code, message, where);
    std::fputs(text.toLocal8Bit().constData(), stderr);
    if (QGuiApplication::primaryScreen() && !unattended_) {
        MessageBoxRequest request = MessageBoxRequestFor(text, MessageBoxFlags::IconError, Texts::tr("错误"));
        presenter_->ShowMessage(request);
    }
    exitProcess_(-1);
}

quint32 QtUiServices::TickCount() const
{
    // Milliseconds of the monotonic clock, like a system tick count.
    return TickClock::Now();
}

void QtUiServices::DeliverMessages(int waitMs)
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    // Sleep in the event loop until the tick waitMs ahead begins; any other
    // event returns sooner and the caller waits again.
    if (waitMs > 0) ticks_.SleepTicks(waitMs);
}
