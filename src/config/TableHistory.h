#pragma once
// The undo history of a configuration table's value cells. The table tells
// it every change of a value cell; changes gather into steps, and undo and
// redo write a whole step back. Titles, headers, sizes and alignment are not
// part of it; loading a file empties it.
//
// What makes a step: one change by itself; every change between BeginStep
// and the matching EndStep (an editing session, a paste, a clear); every
// change while a read of the module runs (BeginRead). A step that leaves
// every cell as it found it is dropped.
//
// Memory stays bounded: at most kMaxSteps steps to undo and redo together,
// and at most kMaxHeldBytes of their texts; the oldest steps go first. A
// single step larger than that cannot be undone: it clears the history.

#include <QHash>
#include <QString>
#include <deque>
#include <functional>
#include <vector>

class TableHistory {
public:
    static constexpr int kMaxSteps = 100;
    static constexpr qint64 kMaxHeldBytes = qint64(32) << 20;

    // Undo and redo write a cell back through `write`, which must change the
    // table's cell as any other change does (Note ignores what it writes).
    using CellWriter = std::function<void(int row, int column, const QString& text)>;
    explicit TableHistory(CellWriter write);
    ~TableHistory();

    // Changes from here to the matching EndStep make one step (pairs nest).
    void BeginStep();
    void EndStep();
    // A read of the module begins: every change from here on, until
    // `running` answers false, makes one step (a read that gives the table
    // back as it was leaves no step). Asked at every change and before undo
    // and redo, so a read ends here however it ended elsewhere. Ends the
    // step of an earlier read that is still gathering.
    void BeginRead(std::function<bool()> running);

    // Nothing to undo or redo while a step is still gathering (an open
    // editor, a running read).
    bool CanUndo();
    bool CanRedo();
    // Writes the step back; false when there was none.
    bool Undo();
    bool Redo();
    void Clear();

    // Bytes the kept steps hold, as the bound counts them.
    qint64 HeldBytes() const { return held_ + open_.bytes; }

    // From the table: a value cell went from `before` to `after`.
    void Note(int row, int column, const QString& before, const QString& after);

private:
    struct Change {
        int row;
        int column;
        QString before;
        QString after;
    };
    struct Step {
        std::vector<Change> changes;
        qint64 bytes = 0;
    };

    bool Gathering() const { return depth_ > 0 || reading_; }
    // Ends the read's share in the open step once the read has ended.
    void FollowRead();
    void CloseOpenStep();
    void Trim();
    // Writes `step` into the table, its befores (undo) or its afters.
    void Apply(const Step& step, bool undo);
    static qint64 BytesOf(const Change& c);

    CellWriter write_;
    std::deque<Step> undo_;  // oldest first
    std::vector<Step> redo_;  // the next to redo last
    Step open_;               // the step gathering, empty when none
    QHash<qint64, size_t> openIndex_;  // cell -> its change in open_
    bool tooLarge_ = false;            // open_ outgrew the bound and is not kept
    int depth_ = 0;
    bool reading_ = false;
    std::function<bool()> readRunning_;
    bool applying_ = false;
    qint64 held_ = 0;  // of the kept steps
};
