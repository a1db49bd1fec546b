#include "config/TableHistory.h"

TableHistory::TableHistory(CellWriter write) : write_(std::move(write)) {}
TableHistory::~TableHistory() = default;

qint64 TableHistory::BytesOf(const Change& c)
{
    // The texts, and a fair share for the change's own record and its index entry.
    return (c.before.size() + c.after.size()) * qint64(sizeof(QChar)) + 64;
}

void TableHistory::BeginStep()
{
    FollowRead();
    ++depth_;
}

void TableHistory::EndStep()
{
    if (depth_ == 0) return;
    --depth_;
    if (!Gathering()) CloseOpenStep();
}

void TableHistory::BeginRead(std::function<bool()> running)
{
    if (reading_) {
        reading_ = false;
        if (!Gathering()) CloseOpenStep();
    }
    reading_ = true;
    readRunning_ = std::move(running);
}

void TableHistory::FollowRead()
{
    if (!reading_ || (readRunning_ && readRunning_())) return;
    reading_ = false;
    readRunning_ = nullptr;
    if (!Gathering()) CloseOpenStep();
}

bool TableHistory::CanUndo()
{
    FollowRead();
    return !Gathering() && !undo_.empty();
}

bool TableHistory::CanRedo()
{
    FollowRead();
    return !Gathering() && !redo_.empty();
}

bool TableHistory::Undo()
{
    if (!CanUndo()) return false;
    Step step = std::move(undo_.back());
    undo_.pop_back();
    Apply(step, true);
    redo_.push_back(std::move(step));
    return true;
}

bool TableHistory::Redo()
{
    if (!CanRedo()) return false;
    Step step = std::move(redo_.back());
    redo_.pop_back();
    Apply(step, false);
    undo_.push_back(std::move(step));
    return true;
}

void TableHistory::Clear()
{
    undo_.clear();
    redo_.clear();
    open_ = Step();
    openIndex_.clear();
    // A step still gathering goes on from the new content, with nothing before it.
    tooLarge_ = false;
    held_ = 0;
}

void TableHistory::Apply(const Step& step, bool undo)
{
    applying_ = true;
    for (auto c = step.changes.rbegin(); c != step.changes.rend(); ++c)
        write_(c->row, c->column, undo ? c->before : c->after);
    applying_ = false;
}

void TableHistory::Note(int row, int column, const QString& before, const QString& after)
{
    if (applying_ || before == after) return;
    FollowRead();
    // A new change makes what was undone unreachable.
    for (const Step& s : redo_) held_ -= s.bytes;
    redo_.clear();

    if (!tooLarge_) {
        const qint64 key = (qint64(row) << 32) | quint32(column);
        const auto at = openIndex_.constFind(key);
        if (at != openIndex_.cend()) {
            // The same cell again (typing): the step keeps its first before and its last after.
            Change& c = open_.changes[*at];
            open_.bytes -= BytesOf(c);
            c.after = after;
            open_.bytes += BytesOf(c);
        } else {
            open_.changes.push_back({row, column, before, after});
            openIndex_.insert(key, open_.changes.size() - 1);
            open_.bytes += BytesOf(open_.changes.back());
        }
        while (held_ + open_.bytes > kMaxHeldBytes && !undo_.empty()) {
            held_ -= undo_.front().bytes;
            undo_.pop_front();
        }
        if (open_.bytes > kMaxHeldBytes) {
            // Nothing before this step can be undone either: its changes would be in the way.
            tooLarge_ = true;
            open_ = Step();
            openIndex_.clear();
        }
    }
    if (!Gathering()) CloseOpenStep();
}

void TableHistory::CloseOpenStep()
{
    Step step = std::move(open_);
    open_ = Step();
    openIndex_.clear();
    if (std::exchange(tooLarge_, false)) return;
    // Cells changed and changed back (a read that gave the table back) are no change.
    std::erase_if(step.changes, [](const Change& c) { return c.before == c.after; });
    if (step.changes.empty()) return;
    step.bytes = 0;
    for (const Change& c : step.changes) step.bytes += BytesOf(c);
    held_ += step.bytes;
    undo_.push_back(std::move(step));
    Trim();
}

void TableHistory::Trim()
{
    while (!undo_.empty() && (int(undo_.size() + redo_.size()) > kMaxSteps || held_ > kMaxHeldBytes)) {
        held_ -= undo_.front().bytes;
        undo_.pop_front();
    }
}
