#include "ui/LogBox.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QTextBlock>
#include <QTime>

#include "core/Texts.h"

LogBox::LogBox(QWidget* parent) : QPlainTextEdit(parent), timestamps_(new QAction(Texts::tr("显示时间"), this))
{
    timestamps_->setObjectName(QStringLiteral("timestamps"));
    timestamps_->setCheckable(true);

    auto* find = new QAction(Texts::tr("查找…"), this);
    find->setObjectName(QStringLiteral("find"));
    find->setShortcut(QKeySequence::Find);
    // The log is the only text to look through: Ctrl+F finds in it wherever the focus is.
    find->setShortcutContext(Qt::WindowShortcut);
    connect(find, &QAction::triggered, this, &LogBox::ShowFindBar);
    addAction(find);
}

void LogBox::SetSaveLog(std::function<void()> saveLog) { saveLog_ = std::move(saveLog); }

bool LogBox::Timestamps() const { return timestamps_->isChecked(); }

void LogBox::SetTimestamps(bool on) { timestamps_->setChecked(on); }

QString LogBox::Stamped(const QString& text) const
{
    if (!Timestamps()) return text;
    const QString stamp = QTime::currentTime().toString(QStringLiteral("[HH:mm:ss.zzz] "));
    // A line begins where the log ends on a line break (or is empty), and after every break of the text.
    bool lineStart = document()->lastBlock().length() <= 1;
    QString out;
    out.reserve(text.size() + stamp.size());
    for (const QChar c : text) {
        if (lineStart && c != QLatin1Char('\n')) out += stamp;
        out += c;
        lineStart = c == QLatin1Char('\n');
    }
    return out;
}

QMenu* LogBox::MakeContextMenu(const QPoint& pos)
{
    QMenu* menu = createStandardContextMenu(pos);
    menu->addSeparator();
    menu->addAction(findChild<QAction*>(QStringLiteral("find")));
    menu->addAction(timestamps_);
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

QDialog* LogBox::FindBar()
{
    if (findBar_) return findBar_;
    findBar_ = new QDialog(this, Qt::Tool);
    findBar_->setObjectName(QStringLiteral("find-bar"));
    findBar_->setWindowTitle(Texts::tr("查找"));
    auto* text = new QLineEdit(findBar_);
    text->setObjectName(QStringLiteral("find-text"));
    text->setAccessibleName(Texts::tr("查找内容"));
    auto* previous = new QPushButton(Texts::tr("上一个"), findBar_);
    previous->setObjectName(QStringLiteral("find-previous"));
    auto* next = new QPushButton(Texts::tr("下一个"), findBar_);
    next->setObjectName(QStringLiteral("find-next"));
    next->setDefault(true);  // Enter finds the next one
    auto* status = new QLabel(findBar_);
    status->setObjectName(QStringLiteral("find-status"));
    auto* row = new QHBoxLayout(findBar_);
    row->addWidget(text, 1);
    row->addWidget(previous);
    row->addWidget(next);
    row->addWidget(status);
    auto run = [this, text, status](bool backwards) {
        if (text->text().isEmpty()) return;
        status->setText(FindText(text->text(), backwards) ? QString() : Texts::tr("找不到"));
    };
    connect(next, &QPushButton::clicked, this, [run] { run(false); });
    connect(previous, &QPushButton::clicked, this, [run] { run(true); });
    connect(text, &QLineEdit::textChanged, status, &QLabel::clear);
    return findBar_;  // Esc closes it, as any dialog
}

void LogBox::ShowFindBar()
{
    QDialog* bar = FindBar();
    if (!bar->isVisible()) bar->move(mapToGlobal(QPoint(0, height())));
    bar->show();
    bar->raise();
    bar->activateWindow();
    auto* text = bar->findChild<QLineEdit*>(QStringLiteral("find-text"));
    // What is selected in the log is what the user most likely looks for.
    if (textCursor().hasSelection() && !textCursor().selectedText().contains(QChar::ParagraphSeparator))
        text->setText(textCursor().selectedText());
    text->selectAll();
    text->setFocus();
}

bool LogBox::FindText(const QString& text, bool backwards)
{
    const QTextDocument::FindFlags flags = backwards ? QTextDocument::FindBackward : QTextDocument::FindFlags();
    if (find(text, flags)) return true;
    // Round the end: from the other end once more.
    const QTextCursor kept = textCursor();
    moveCursor(backwards ? QTextCursor::End : QTextCursor::Start);
    if (find(text, flags)) return true;
    setTextCursor(kept);
    return false;
}
