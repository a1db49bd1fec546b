// The table's undo history: what makes one step, and how much it keeps.

#include <QtTest>
#include <functional>

#include "config/CellBlock.h"
#include "config/ConfigTable.h"
#include "config/TableHistory.h"

namespace {

using Cells = QMap<QPair<int, int>, QString>;

// Every cell of the table that holds text, titles and headers included.
Cells CellsOf(const ConfigTable& t)
{
    Cells cells;
    for (int r = 0; r < t.RowCount(); ++r)
        for (int c = 0; c < t.ColumnCount(); ++c)
            if (!t.GetCellText(r, c).isEmpty()) cells[{r, c}] = t.GetCellText(r, c);
    return cells;
}

// One way of changing the table; `reading` is what the read asks whether it still runs.
using Change = std::function<void(ConfigTable&, bool& reading)>;

}  // namespace

class TableHistoryTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void eachChangeIsUndoneAndRedoneAsOneStep_data()
    {
        QTest::addColumn<Change>("change");
        QTest::addColumn<bool>("leavesAStep");
        QTest::newRow("typing") << Change([](ConfigTable& t, bool&) {
            t.History().BeginStep();
            for (const char* typed : {"A", "AB", "AB ", "AB C", "AB CD"}) t.SetCellText(5, 1, QString::fromLatin1(typed));
            t.History().EndStep();
        }) << true;
        QTest::newRow("paste") << Change([](ConfigTable& t, bool&) {
            QCOMPARE(PasteBlock(t, 3, 1, BlockOfText(QStringLiteral("11\t22\r\n33\r\n"))), PasteOutcome::Pasted);
        }) << true;
        QTest::newRow("clear") << Change([](ConfigTable& t, bool&) { t.ClearRange(1, 1, 96, 2); }) << true;
        QTest::newRow("read") << Change([](ConfigTable& t, bool& reading) {
            reading = true;
            t.History().BeginRead([&reading] { return reading; });
            t.ClearRange(1, 1, 96, 2);
            t.SetCellText(1, 1, QStringLiteral("A1 "));
            t.SetCellText(96, 2, QStringLiteral("B2 "));
            reading = false;
        }) << true;
        QTest::newRow("read given back") << Change([](ConfigTable& t, bool& reading) {
            reading = true;
            t.History().BeginRead([&reading] { return reading; });
            const Cells before = CellsOf(t);
            t.ClearRange(1, 1, 96, 2);
            t.SetCellText(1, 1, QStringLiteral("A1 "));
            t.ClearRange(1, 1, 96, 2);
            for (auto it = before.cbegin(); it != before.cend(); ++it) t.SetCellText(it.key().first, it.key().second, it.value());
            reading = false;
        }) << false;
    }
    void eachChangeIsUndoneAndRedoneAsOneStep()
    {
        QFETCH(Change, change);
        QFETCH(bool, leavesAStep);
        ConfigTable t;
        InitTable(t);
        for (int r = 1; r <= 96; r += 5) t.SetCellText(r, 1 + r % 2, QStringLiteral("%1 0F").arg(r, 2, 16, QLatin1Char('0')));
        t.SetCellText(2, 2, QStringLiteral("EE"));  // the step before
        const Cells start = CellsOf(t);
        bool reading = false;
        change(t, reading);
        const Cells changed = CellsOf(t);

        TableHistory& h = t.History();
        QVERIFY(h.Undo());
        QCOMPARE(CellsOf(t), leavesAStep ? start : [&] {
            Cells c = start;
            c.remove({2, 2});
            return c;
        }());
        if (leavesAStep) {
            QVERIFY(h.Undo());  // the step before, alone
            QCOMPARE(t.GetCellText(2, 2), QString());
            QVERIFY(h.Redo());
        }
        QVERIFY(h.Redo());
        QCOMPARE(CellsOf(t), changed);
        QVERIFY(!h.CanRedo());
    }

    void aStepStillGatheringCannotBeUndone()
    {
        ConfigTable t;
        InitTable(t);
        t.SetCellText(1, 1, QStringLiteral("AA"));
        bool reading = true;
        t.History().BeginRead([&reading] { return reading; });
        t.SetCellText(1, 2, QStringLiteral("BB"));
        QVERIFY(!t.History().CanUndo());
        QVERIFY(!t.History().Undo());
        QCOMPARE(t.GetCellText(1, 2), QStringLiteral("BB"));
        // A second read closes the first one's step even when nothing said it ended.
        t.History().BeginRead([&reading] { return reading; });
        t.SetCellText(1, 2, QStringLiteral("CC"));
        reading = false;
        QVERIFY(t.History().Undo());
        QCOMPARE(t.GetCellText(1, 2), QStringLiteral("BB"));
        // Titles are not in it, and a new change drops what could be redone.
        t.SetCellText(1, 0, QStringLiteral("title"));
        QVERIFY(t.History().CanRedo());
        t.SetCellText(3, 1, QStringLiteral("01"));
        QVERIFY(!t.History().CanRedo());
    }

    void historyHoldsBoundedStepsAndBytes()
    {
        ConfigTable t;
        InitTable(t);
        for (int i = 0; i < TableHistory::kMaxSteps + 20; ++i) t.SetCellText(1 + i % 96, 1, QString::number(i));
        int undone = 0;
        while (t.History().Undo()) ++undone;
        QCOMPARE(undone, TableHistory::kMaxSteps);
        QCOMPARE(t.GetCellText(20, 1), QStringLiteral("19"));  // its step went first

        // Cells that together outgrow the bound: the oldest steps make room.
        ConfigTable u;
        InitTable(u);
        const qsizetype chars = TableHistory::kMaxHeldBytes / 2 / 10;
        for (int i = 0; i < 12; ++i) u.SetCellText(1 + i, 1, QString(chars, QLatin1Char('A' + i)));
        QVERIFY(u.History().HeldBytes() <= TableHistory::kMaxHeldBytes);
        // A single step beyond the bound is not kept, nor anything before it.
        u.History().BeginStep();
        for (int r = 20; r < 32; ++r) u.SetCellText(r, 2, QString(chars, QLatin1Char('F')));
        u.History().EndStep();
        QVERIFY(u.History().HeldBytes() <= TableHistory::kMaxHeldBytes);
        QVERIFY(!u.History().CanUndo());
        QCOMPARE(u.GetCellText(31, 2).size(), chars);
    }
};

QTEST_GUILESS_MAIN(TableHistoryTest)
#include "test_tablehistory.moc"
