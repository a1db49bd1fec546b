#pragma once
// The log box: a plain multi-line edit box whose context menu, besides the
// usual copy and select-all, offers "保存日志…".

#include <QPlainTextEdit>
#include <functional>

class QMenu;

class LogBox : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit LogBox(QWidget* parent = nullptr);

    // What "保存日志…" runs; without it the entry is greyed.
    void SetSaveLog(std::function<void()> saveLog);
    // The context menu as it shows at `pos`; the caller owns it.
    QMenu* MakeContextMenu(const QPoint& pos);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    std::function<void()> saveLog_;
};
