#pragma once
// Where the module's codes stand in the configuration table. Row 0 holds the
// column headers and column 0 the row titles; every other cell is a value cell.
//
//   rows 1 … 64   the 32 switches, two rows each: control (odd), feedback (even)
//   rows 65 … 96  the 32 scenes, one row each
//   column 1      the "开" code, column 2 the "关" code
//
// The module keeps its codes in three blocks of 32 slots: block 1 the switches'
// control entries, block 2 the scenes, block 3 the switches' feedback entries.

namespace TableLayout {

constexpr int kRows = 97;  // header row + 96 value rows
constexpr int kColumns = 3;  // title column + two code columns

constexpr int kFirstValueRow = 1;
constexpr int kLastValueRow = 96;
constexpr int kOnColumn = 1;
constexpr int kOffColumn = 2;

constexpr int kSwitches = 32;
constexpr int kScenes = 32;
constexpr int kFirstSceneRow = 2 * kSwitches + 1;  // 65

constexpr int kBlocks = 3;
constexpr int kSlotsPerBlock = 32;

// True for a cell that holds a code (neither header nor title, inside the table).
constexpr bool IsValueCell(int row, int column)
{
    return row >= kFirstValueRow && row <= kLastValueRow && column >= kOnColumn && column <= kOffColumn;
}

// One number a cell (row * kColumns + column), for sets and maps of cells.
constexpr int CellKey(int row, int column) { return row * kColumns + column; }

// Row of switch k's control entry, of its feedback entry (k = 1 … 32), and of scene s (s = 0 … 31).
constexpr int SwitchControlRow(int k) { return 2 * k - 1; }
constexpr int SwitchFeedbackRow(int k) { return 2 * k; }
constexpr int SceneRow(int s) { return kFirstSceneRow + s; }

// Row that slot k (1 … 32) of block 1, 2 or 3 stands for.
constexpr int BlockRow(int block, int k)
{
    switch (block) {
    case 1: return SwitchControlRow(k);
    case 2: return SceneRow(k - 1);
    default: return SwitchFeedbackRow(k);
    }
}

}  // namespace TableLayout
