#include "ui/LogBox.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QPointer>

#include "core/Texts.h"

LogBox::LogBox(QWidget* parent) : QPlainTextEdit(parent) {}

void LogBox::SetSaveLog(std::function<void()> saveLog) { saveLog_ = std::move(saveLog); }

QMenu* LogBox::MakeContextMenu(const QPoint& pos)
{
    QMenu* menu = createStandardContextMenu(pos);
    menu->addSeparator();
    QAction* save = menu->addAction(Texts::tr("保存日志…"));
    save->setObjectName(QStringLiteral("save-log"));
    save->setEnabled(bool(saveLog_));
    connect(save, &QAction::triggered, this, [this] {
        if (saveLog_) saveLog_();
    });
    return menu;
}

void LogBox::contextMenuEvent(QContextMenuEvent* event)
{
    // The box may go while the menu shows (the window closed under it).
    QPointer<QMenu> menu = MakeContextMenu(event->pos());
    menu->exec(event->globalPos());
    delete menu.data();
}
