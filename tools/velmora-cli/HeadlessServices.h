#pragma once
// The interface services without a window, for one port's run of the command
// line tool. Controls are plain data; every confirmation is answered OK; the
// log, the boxes and the progress bar are handed to whoever listens; the
// receive timer is a timer of the thread that created the services, and
// pauses sleep in that thread's event loop.

#include <QHash>
#include <QStringList>
#include <QTimer>
#include <QVector>
#include <functional>

#include "core/TickClock.h"
#include "core/UiServices.h"

class HeadlessServices : public UiServices {
public:
    HeadlessServices();
    ~HeadlessServices() override;

    // What the program says, as it says it.
    std::function<void(const QString& text)> onLog;  // every text appended to the log box
    std::function<void(const QString& text, const QString& caption)> onBox;
    std::function<void(int position)> onProgress;
    // The receive timer's handler.
    std::function<void()> onTick;

    // Boxes shown so far, "caption|text", in order.
    const QStringList& Boxes() const { return boxes_; }

    // --- UiServices ----------------------------------------------------------
    void SetDisabled(Control c, bool disabled) override { disabled_[c] = disabled; }
    bool IsDisabled(Control c) const override { return disabled_.value(c, false); }
    void SetCaption(Control c, const QString& text) override { captions_[c] = text; }
    QString GetCaption(Control c) const override { return captions_.value(c); }
    QString GetTitle() const override { return title_; }
    void SetTitle(const QString& text) override { title_ = text; }

    QString GetText(Control c) const override { return texts_.value(c); }
    void SetText(Control c, const QString& text) override { texts_[c] = text; }
    void AppendText(Control c, const QString& text) override;
    void MoveCaretToEnd(Control) override {}

    void ComboClear(Control c) override { combos_[c] = Combo{}; }
    int ComboAddItem(Control c, const QString& text, int data, const QString& toolTip) override;
    int ComboCount(Control c) const override { return int(combos_.value(c).texts.size()); }
    QString ComboItemText(Control c, int index) const override;
    int GetSelection(Control c) const override { return combos_.value(c).selection; }
    void SetSelection(Control c, int index) override;

    void SetPosition(Control c, int value) override;
    int GetPosition(Control c) const override { return positions_.value(c, 0); }

    void SetInterval(Control c, int ms) override;
    int GetInterval(Control c) const override { return c == Control::Timer_ReceiveData ? interval_ : 0; }

    int ShowMessageBox(const QString& text, int flags, const QString& caption = QString()) override;
    void SetDialogKind(int) override {}
    void SetDefaultExtension(const QString&) override {}
    int ShowFileDialog() override { return 0; }
    QString GetFileName() const override { return QString(); }
    int ApplyTheme(int) override { return 0; }
    // Prints the report in one line on standard error and ends the process.
    [[noreturn]] void FatalReport(int code, const QString& message, const QString& where) override;

    quint32 TickCount() const override { return TickClock::Now(); }
    void DeliverMessages(int waitMs) override;

private:
    struct Combo {
        QStringList texts;
        int selection = -1;
    };
    QHash<Control, bool> disabled_;
    QHash<Control, QString> captions_;
    QHash<Control, QString> texts_;
    QHash<Control, Combo> combos_;
    QHash<Control, int> positions_;
    QString title_;
    QStringList boxes_;
    int interval_ = 0;
    QTimer receiveTimer_;
    TickClock clock_;
};
