#pragma once
// The log box: a plain multi-line edit box whose context menu, besides the
// usual copy and select-all, offers "查找…" (also Ctrl+F anywhere in the
// window), "显示时间" and "保存日志…".

#include <QPlainTextEdit>
#include <functional>

class QAction;
class QDialog;
class QMenu;

class LogBox : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit LogBox(QWidget* parent = nullptr);

    // What "保存日志…" runs; without it the entry is greyed.
    void SetSaveLog(std::function<void()> saveLog);
    // The context menu as it shows at `pos`; the caller owns it.
    QMenu* MakeContextMenu(const QPoint& pos);

    // Whether lines appended from now on begin with the time ("[12:34:56.789] ").
    bool Timestamps() const;
    void SetTimestamps(bool on);
    // `text` as it is to be appended at the end: with the time in front of
    // every line that begins in it when timestamps are on, else unchanged.
    QString Stamped(const QString& text) const;

    // The find bar ("查找"): next and previous occurrence, Esc closes it.
    QDialog* FindBar();
    // Selects the next (or previous) occurrence of `text` after (before) the
    // caret, going round the end; false when the log holds none.
    bool FindText(const QString& text, bool backwards);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void ShowFindBar();

    std::function<void()> saveLog_;
    QAction* timestamps_;
    QDialog* findBar_ = nullptr;
};
