#pragma once
// The interface services on the real widgets of the main window. Boxes and
// file dialogs show through a BoxPresenter, which tests replace.

#include <QPointer>
#include <functional>
#include <memory>

#include "ui/BoxPresenter.h"
#include "core/TickClock.h"
#include "ui/UiServices.h"

class ListComboBox;
class MainWindow;

// Buttons and icon of a message box for the platform's flag word.
MessageBoxRequest MessageBoxRequestFor(const QString& text, int flags, const QString& caption);
// The program's result (0..6) for the button that closed a box.
int MessageBoxResultFor(QMessageBox::StandardButton button);
// The fatal report's text: "运行时出错!\r\n", then the code, message and diagnostic lines.
QString FatalReportText(int code, const QString& message, const QString& where);

class QtUiServices : public UiServices {
public:
    // Without a presenter the real dialogs show.
    explicit QtUiServices(std::unique_ptr<BoxPresenter> presenter = nullptr);
    ~QtUiServices() override;

    // The window whose controls the operations reach; none before it exists.
    void Attach(MainWindow* window);
    // "保存日志…" of the log box's menu: asks where (a save dialog starting in
    // the user's documents folder) and writes the log there as UTF-8 text; a
    // failed write is told in a notice.
    void SaveLog();
    // How a fatal report ends the process (std::_Exit by default).
    void SetProcessExit(std::function<void(int)> exitProcess);
    // Nobody is there to answer (the program is being ended from outside):
    // boxes and file dialogs no longer show; a box gives the answer of its
    // Cancel button (OK when it has only that), a file dialog a cancel.
    void SetUnattended(bool unattended) { unattended_ = unattended; }

    void SetDisabled(Control c, bool disabled) override;
    bool IsDisabled(Control c) const override;
    void SetReadOnly(Control c, bool readOnly) override;
    void SetCaption(Control button, const QString& text) override;
    QString GetCaption(Control button) const override;
    QString GetTitle() const override;
    void SetTitle(const QString& text) override;

    QString GetText(Control edit) const override;
    void SetText(Control edit, const QString& text) override;
    void AppendText(Control edit, const QString& text) override;
    void MoveCaretToEnd(Control edit) override;
    bool LogTimestamps() const override;
    void SetLogTimestamps(bool on) override;

    void ComboClear(Control combo) override;
    int ComboAddItem(Control combo, const QString& text, int data = 0, const QString& toolTip = QString()) override;
    void ComboSetListText(Control combo, int index, const QString& text) override;
    int ComboCount(Control combo) const override;
    QString ComboItemText(Control combo, int index) const override;
    int GetSelection(Control combo) const override;
    void SetSelection(Control combo, int index) override;

    void SetPosition(Control bar, int value) override;
    int GetPosition(Control bar) const override;
    void SetInterval(Control timer, int ms) override;
    int GetInterval(Control timer) const override;

    int ShowMessageBox(const QString& text, int flags, const QString& caption = QString()) override;
    void SetDialogKind(int kind) override;
    void SetDefaultExtension(const QString& ext) override;
    int ShowFileDialog() override;
    QString GetFileName() const override;
    int ApplyTheme(int variant) override;
    void FatalReport(int code, const QString& message, const QString& where) override;

    quint32 TickCount() const override;
    void DeliverMessages(int waitMs) override;

private:
    QWidget* WidgetOf(Control c) const;
    ListComboBox* ComboOf(Control c) const;

    std::unique_ptr<BoxPresenter> presenter_;
    QPointer<MainWindow> window_;
    // After an operation the keyboard focus goes back to the control of the
    // window that had it when the operation began (before its confirmation
    // box), or, where that control is grey by then, to the button that began
    // the operation; unless the user has moved it since (from where Qt put it
    // when a grey control had it). The control comes back as soon as it is
    // enabled; the button only once the controls have settled.
    void FocusSettleLater();
    void GiveFocusBack(bool settled);
    QPointer<QWidget> focusBefore_;
    QPointer<QWidget> focusOwnButton_;
    QPointer<QWidget> focusMovedTo_;
    bool holdingFocus_ = false;
    bool focusSettlePending_ = false;
    std::function<void(int)> exitProcess_;
    TickClock ticks_;
    int interval_ = 0;
    bool unattended_ = false;
};
