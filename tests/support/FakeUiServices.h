#pragma once
// A recording stand-in for the window: every control is plain data, boxes
// answer from a script, the clock is a number that pauses move forward.
// Everything observable is kept so tests can assert on it.

#include <QHash>
#include <QMap>
#include <QStringList>
#include <QVector>
#include <deque>
#include <functional>
#include <stdexcept>

#include "ui/UiServices.h"

// Thrown by the fake's FatalReport so a test can see where the program would have ended.
struct FatalExit : std::runtime_error {
    int code;
    QString message;
    QString where;
    FatalExit(int c, QString m, QString w)
        : std::runtime_error("fatal report"), code(c), message(std::move(m)), where(std::move(w)) {}
};

struct ShownBox {
    QString text;
    int flags;
    QString caption;
};

class FakeUiServices : public UiServices {
public:
    struct Combo {
        QStringList texts;
        QVector<int> data;
        QStringList toolTips;
        int selection = -1;
        QString editText;
    };

    // --- observable state ----------------------------------------------------
    QHash<Control, bool> disabled;
    QHash<Control, QString> captions;
    QHash<Control, QString> texts;  // edit boxes
    QHash<Control, Combo> combos;
    QHash<Control, int> positions;
    QVector<int> positionHistory;  // every SetPosition, clamped, in order
    QHash<Control, int> intervals;
    int intervalStarts = 0;        // how often a timer was (re)started
    QString title;
    QVector<ShownBox> boxes;
    std::deque<int> boxAnswers;    // scripted results; OK when empty
    std::function<void(const ShownBox&)> onBox;  // runs while a box "shows"
    int dialogKind = 0;
    QString defaultExtension;
    QString fileName;
    std::deque<QString> dialogAnswers;  // scripted choices; empty string = cancel
    QVector<int> dialogKindsShown;
    int themeVariant = 0;

    // One line per observable step, in order: "write …", "log …", "box …",
    // "wait N" (message delivery that slept N ms), "pos N".
    QStringList timeline;

    quint32 clock = 1000;                  // fake monotonic milliseconds
    std::function<void()> onDeliver;       // runs inside every DeliverMessages
    int deliverCalls = 0;

    // --- UiServices ----------------------------------------------------------
    void SetDisabled(Control c, bool d) override { disabled[c] = d; }
    bool IsDisabled(Control c) const override { return disabled.value(c, false); }
    void SetReadOnly(Control, bool) override {}  // seen through the window's own tests
    void SetCaption(Control c, const QString& t) override { captions[c] = t; }
    QString GetCaption(Control c) const override { return captions.value(c); }
    QString GetTitle() const override { return title; }
    void SetTitle(const QString& t) override { title = t; }

    // A combo box's text is its edit field's.
    QString GetText(Control c) const override { return combos.contains(c) ? combos.value(c).editText : texts.value(c); }
    void SetText(Control c, const QString& t) override { texts[c] = t; }
    void AppendText(Control c, const QString& t) override
    {
        texts[c] += t;
        if (c == Control::Edit_Display) timeline << QStringLiteral("log ") + t;
    }
    void MoveCaretToEnd(Control) override { ++caretMoves; }
    int caretMoves = 0;

    void ComboClear(Control c) override { combos[c] = Combo{}; }
    int ComboAddItem(Control c, const QString& t, int data, const QString& tip) override
    {
        Combo& box = combos[c];
        box.texts << t;
        box.data << data;
        box.toolTips << tip;
        return int(box.texts.size()) - 1;
    }
    int ComboCount(Control c) const override { return int(combos.value(c).texts.size()); }
    QString ComboItemText(Control c, int i) const override
    {
        const Combo box = combos.value(c);
        return (i >= 0 && i < box.texts.size()) ? box.texts.at(i) : QString();
    }
    int GetSelection(Control c) const override { return combos.value(c).selection; }
    // The user types into a combo box's field: that chooses no item.
    void Type(Control c, const QString& text)
    {
        combos[c].selection = -1;
        combos[c].editText = text;
    }
    void SetSelection(Control c, int i) override
    {
        Combo& box = combos[c];
        const int n = int(box.texts.size());
        if (i < -1) i = -1;
        if (i > n - 1) i = n - 1;
        box.selection = i;
        box.editText = i >= 0 ? box.texts.at(i) : QString();
    }

    void SetPosition(Control c, int v) override
    {
        v = qBound(0, v, 32767);
        v = qBound(0, v, 100);
        positions[c] = v;
        positionHistory << v;
        timeline << QStringLiteral("pos %1").arg(v);
    }
    int GetPosition(Control c) const override { return positions.value(c, 0); }

    void SetInterval(Control c, int ms) override
    {
        if (ms < 0) ms = 0;
        if (intervals.value(c, 0) == ms) return;
        intervals[c] = ms;
        if (ms > 0) ++intervalStarts;
    }
    int GetInterval(Control c) const override { return intervals.value(c, 0); }

    int ShowMessageBox(const QString& text, int flags, const QString& caption) override
    {
        const ShownBox box{text, flags, caption.isEmpty() ? QStringLiteral("信息：") : caption};
        boxes << box;
        timeline << QStringLiteral("box ") + box.caption + QLatin1Char('|') + text;
        if (onBox) onBox(box);
        if (boxAnswers.empty()) return MessageBoxResult::Ok;
        const int r = boxAnswers.front();
        boxAnswers.pop_front();
        return r;
    }

    void SetDialogKind(int k) override { dialogKind = qBound(0, k, 3); }
    void SetDefaultExtension(const QString& e) override { defaultExtension = e; }
    int ShowFileDialog() override
    {
        dialogKindsShown << dialogKind;
        if (dialogAnswers.empty()) return 0;
        const QString choice = dialogAnswers.front();
        dialogAnswers.pop_front();
        if (choice.isEmpty()) return 0;
        fileName = choice;
        return 1;
    }
    QString GetFileName() const override { return fileName; }

    int ApplyTheme(int v) override
    {
        themeVariant = v;
        return (v >= 1 && v <= 3) ? 1 : 0;
    }

    void FatalReport(int code, const QString& message, const QString& where) override
    {
        fatalCount++;
        throw FatalExit(code, message, where);
    }
    int fatalCount = 0;

    void ReportOnConsole(const QString& line) override { consoleLines << line; }
    QStringList consoleLines;

    quint32 TickCount() const override { return clock; }
    void DeliverMessages(int waitMs) override
    {
        ++deliverCalls;
        if (waitMs > 0) {
            clock += quint32(waitMs);
            timeline << QStringLiteral("wait %1").arg(waitMs);
        }
        if (onDeliver) onDeliver();
    }

    // --- helpers for tests ---------------------------------------------------
    QString Log() const { return texts.value(Control::Edit_Display); }
    QStringList BoxTexts() const
    {
        QStringList out;
        for (const ShownBox& b : boxes) out << b.text;
        return out;
    }
};
