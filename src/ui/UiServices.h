#pragma once
// The operations through which the window's handlers reach the window: controls,
// message boxes, the file dialog, the fatal report and the message pump that
// pauses use. The Qt implementation lives in QtUiServices; tests use a
// recording fake. Nothing here includes a widget header.

#include <QtGlobal>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <functional>

// Every control of the main window, in creation order, plus the window itself.
enum class Control {
    ProgressBar1,
    Button_SetBaudRate,
    Combo_SetBaudRate,
    Button_SaveAs,
    CommonDialog1,
    Button_WriteModule,
    Button_ReadModule,
    Button_ClearModule,
    Button_SaveFile,
    Button_OpenFile,
    Button_Learn,
    Edit_Learn,
    GroupBox1,
    Button_ClearDisplay,
    Timer_ReceiveData,
    Button_TogglePort,
    Combo_BaudRate,
    Label2,
    Combo_Port,
    Label1,
    Edit_Display,
    ConfigGrid,
    MainWindow,
};

// Message-box flag words the program passes, and the results it gets back.
namespace MessageBoxFlags {
constexpr int Ok = 0;        // OK button only
constexpr int OkCancel = 1;  // OK and Cancel
constexpr int IconError = 0x10;
}  // namespace MessageBoxFlags

// The themed looks ApplyTheme offers, by their frame colour; any other value switches it off.
namespace ThemeVariant {
constexpr int Off = 0;
constexpr int Blue = 1;
constexpr int Green = 2;  // the program's own
constexpr int Lavender = 3;
}  // namespace ThemeVariant

namespace MessageBoxResult {
constexpr int Ok = 0;
constexpr int Cancel = 1;
constexpr int Abort = 2;
constexpr int Retry = 3;
constexpr int Ignore = 4;
constexpr int Yes = 5;
constexpr int No = 6;
}  // namespace MessageBoxResult

class UiServices {
public:
    virtual ~UiServices() = default;

    // --- controls -----------------------------------------------------------
    virtual void SetDisabled(Control c, bool disabled) = 0;
    virtual bool IsDisabled(Control c) const = 0;
    // The grid read-only: still scrolled, selected and copied, but no cell is
    // typed into, pasted, cleared, undone or redone (an open editor is closed
    // with what it holds).
    virtual void SetReadOnly(Control c, bool readOnly) = 0;
    virtual void SetCaption(Control button, const QString& text) = 0;
    virtual QString GetCaption(Control button) const = 0;
    virtual QString GetTitle() const = 0;
    virtual void SetTitle(const QString& text) = 0;

    // Edit boxes: whole content.
    virtual QString GetText(Control edit) const = 0;
    virtual void SetText(Control edit, const QString& text) = 0;
    // Appends at the very end of the content whatever the user selected,
    // scrolls the caret into view and leaves the keyboard focus alone.
    virtual void AppendText(Control edit, const QString& text) = 0;
    // Empty selection at the end of the content, scrolled into view.
    virtual void MoveCaretToEnd(Control edit) = 0;
    // Whether the log box puts the time in front of every line appended (the
    // user's choice on the box; off by default and where there is no box).
    virtual bool LogTimestamps() const { return false; }
    virtual void SetLogTimestamps(bool on) { (void)on; }

    // Combo boxes.
    virtual void ComboClear(Control combo) = 0;
    // Appends an item; returns its index, or -1 when the list refused it.
    // The tool tip is shown on the item (the port box uses it for the device).
    virtual int ComboAddItem(Control combo, const QString& text, int data = 0,
                             const QString& toolTip = QString()) = 0;
    // How item `index` reads in the box's open list, where that says more
    // than its text (which the field shows and ComboItemText gives).
    virtual void ComboSetListText(Control combo, int index, const QString& text)
    {
        Q_UNUSED(combo);
        Q_UNUSED(index);
        Q_UNUSED(text);
    }
    virtual int ComboCount(Control combo) const = 0;
    // Empty text when index is not 0 .. count-1.
    virtual QString ComboItemText(Control combo, int index) const = 0;
    virtual int GetSelection(Control combo) const = 0;
    // Clamped: below -1 gives -1, above count-1 gives count-1.
    virtual void SetSelection(Control combo, int index) = 0;

    // Progress bar: clamped to 0..32767, then to the bar's 0..100.
    virtual void SetPosition(Control bar, int value) = 0;
    virtual int GetPosition(Control bar) const = 0;

    // Timer: negative counts as 0; the same value changes nothing; 0 stops.
    virtual void SetInterval(Control timer, int ms) = 0;
    virtual int GetInterval(Control timer) const = 0;

    // --- boxes and dialogs --------------------------------------------------
    // Modal box; caption defaults to "信息：". Result 0..6 (MessageBoxResult).
    virtual int ShowMessageBox(const QString& text, int flags,
                               const QString& caption = QString()) = 0;

    virtual void SetDialogKind(int kind) = 0;  // 0 open, 1 save
    virtual void SetDefaultExtension(const QString& ext) = 0;
    // 1 when the user confirmed a file, 0 when cancelled.
    virtual int ShowFileDialog() = 0;
    // Full path of the file last confirmed (empty before the first).
    virtual QString GetFileName() const = 0;

    // Themed drawing of the standard controls; 1 when switched on.
    virtual int ApplyTheme(int variant) = 0;

    // Ends the process with exit code -1 after showing the report box:
    // "运行时出错!\r\n", optional "\r\n错误代码：<code>\r\n", optional
    // "\r\n错误信息：<message>\r\n", then the diagnostic line + "\r\n".
    // code < 0 means "no code"; an empty message means "no message".
    // The real implementation never returns; the test fake throws.
    virtual void FatalReport(int code, const QString& message,
                             const QString& where) = 0;

    // A line for whoever started the program from a terminal (standard error),
    // written even when no window can show anything any more.
    virtual void ReportOnConsole(const QString& line)
    {
        std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
        std::fflush(stderr);
    }

    // --- message pump (for Delay) --------------------------------------------
    // Monotonic milliseconds, wrapping as a 32-bit unsigned count.
    virtual quint32 TickCount() const = 0;
    // Delivers pending window messages; when waitMs > 0, sleeps in the event
    // loop until a message arrives or waitMs have passed.
    virtual void DeliverMessages(int waitMs) = 0;
};

// The identifier of a control as code names it ("Button_TogglePort", …).
inline const char* ControlIdentifier(Control c)
{
    switch (c) {
    case Control::ProgressBar1: return "ProgressBar1";
    case Control::Button_SetBaudRate: return "Button_SetBaudRate";
    case Control::Combo_SetBaudRate: return "Combo_SetBaudRate";
    case Control::Button_SaveAs: return "Button_SaveAs";
    case Control::CommonDialog1: return "CommonDialog1";
    case Control::Button_WriteModule: return "Button_WriteModule";
    case Control::Button_ReadModule: return "Button_ReadModule";
    case Control::Button_ClearModule: return "Button_ClearModule";
    case Control::Button_SaveFile: return "Button_SaveFile";
    case Control::Button_OpenFile: return "Button_OpenFile";
    case Control::Button_Learn: return "Button_Learn";
    case Control::Edit_Learn: return "Edit_Learn";
    case Control::GroupBox1: return "GroupBox1";
    case Control::Button_ClearDisplay: return "Button_ClearDisplay";
    case Control::Timer_ReceiveData: return "Timer_ReceiveData";
    case Control::Button_TogglePort: return "Button_TogglePort";
    case Control::Combo_BaudRate: return "Combo_BaudRate";
    case Control::Label2: return "Label2";
    case Control::Combo_Port: return "Combo_Port";
    case Control::Label1: return "Label1";
    case Control::Edit_Display: return "Edit_Display";
    case Control::ConfigGrid: return "ConfigGrid";
    case Control::MainWindow: return "MainWindow";
    }
    return "";
}

// The serial library's fatal report, as the services show it.
inline std::function<void(int, const QString&, const QString&)> FatalReportTo(UiServices& ui)
{
    return [&ui](int code, const QString& message, const QString& where) { ui.FatalReport(code, message, where); };
}
