#include "core/Program.h"
#include "config/ConfigTable.h"
#include "core/TableLayout.h"
#include "protocol/ExclusiveOperation.h"
#include "protocol/Frames.h"
#include "protocol/HexCodec.h"
#include "protocol/ModuleOperations.h"

namespace {

using namespace TableLayout;

QString CellValue(const Program& p, int row, int column)
{
    return RemoveBlanks(p.table.GetCellText(row, column));
}

// Finds the first cell in row order (column 1 before 2) that does not
// convert; the codec has shown its box for it. False when every cell is good.
bool FindBadCell(Program& p, int& badRow, int& badColumn)
{
    for (int row = kFirstValueRow; row <= kLastValueRow; ++row) {
        for (int column : {kOnColumn, kOffColumn}) {
            const QString value = CellValue(p, row, column);
            if (value.isEmpty()) continue;
            if (HexToBytes(p.ui, value).isEmpty()) {
                badRow = row;
                badColumn = column;
                return true;
            }
        }
    }
    return false;
}

// Sends one cell as a code record unless it is empty; false when the window
// went away during the pause after it.
bool SendCell(Program& p, int row, int column, int slot)
{
    // Read now, not in the check: the table stays editable while we send.
    const QString value = CellValue(p, row, column);
    if (value.isEmpty()) return true;
    SendFrame(p, CodeRecord(slot, value));
    Delay(p, 50);
    return !OperationInterrupted(p);
}

bool SendControlFrame(Program& p, const QString& frame)
{
    SendFrame(p, frame);
    Delay(p, 100);
    return !OperationInterrupted(p);
}

// The enter frame, the three blocks and the exit frame; false when cut short
// by the window being destroyed.
bool SendTable(Program& p)
{
    if (!SendControlFrame(p, EnterConfigFrame)) return false;
    for (int block = 1; block <= kBlocks; ++block) {
        if (!SendControlFrame(p, BlockBeginFrame(block))) return false;
        for (int k = 1; k <= kSlotsPerBlock; ++k) {
            const int row = BlockRow(block, k);
            if (!SendCell(p, row, kOnColumn, k)) return false;
            if (!SendCell(p, row, kOffColumn, k + kSlotsPerBlock)) return false;
            p.ui.SetPosition(Control::ProgressBar1, (block - 1) * kSlotsPerBlock + k);
        }
        if (!SendControlFrame(p, BlockEndFrame(block))) return false;
    }
    p.ui.SetPosition(Control::ProgressBar1, 100);
    if (!SendControlFrame(p, ExitConfigFrame)) return false;
    p.ui.SetPosition(Control::ProgressBar1, 0);
    return true;
}

}  // namespace

void WriteModule(Program& p)
{
    if (!MayStartOperation(p)) return;

    // Every code is checked before the first frame, so a typing error is
    // found while the module is still untouched.
    int badRow = 0, badColumn = 0;
    if (FindBadCell(p, badRow, badColumn)) {
        // The codec's boxes deliver messages; the window may be going away.
        if (p.state.shuttingDown) return;
        ShowNotice(p, QStringLiteral("位置在") + p.table.GetCellText(badRow, 0));
        if (p.state.shuttingDown) return;
        p.table.SetCurrentCell(badRow, badColumn);
        return;
    }

    if (!Confirmed(p, QStringLiteral("确认写入自定义数据"), QStringLiteral("写入数据"))) return;
    if (!BeginExclusiveOperation(p)) return;

    SendTable(p);
    EndExclusiveOperation(p);
}
