#include "core/ModuleEvents.h"
#include "core/Program.h"
#include "core/Texts.h"
#include "config/ConfigTable.h"
#include "core/TableLayout.h"
#include "protocol/ExclusiveOperation.h"
#include "protocol/Frames.h"
#include "protocol/HexCodec.h"
#include "protocol/ModuleOperations.h"

namespace {

using namespace TableLayout;

// A cell's code as it is sent: its text without any blank.
QString CellValue(const ConfigTable& table, int row, int column)
{
    return RemoveBlanks(table.GetCellText(row, column));
}

// One upload of the table: frames, pauses and the bar as WriteModule sends
// them, with the guard asked where it may hold the upload back or cut it short.
class TableUpload {
public:
    TableUpload(Program& p, const UploadGuard& guard) : p_(p), guard_(guard) {}

    UploadEnd Run()
    {
        if (!Step(EnterConfigFrame, 100)) return Finish();
        if (guard_.mayBeginBlocks && !guard_.mayBeginBlocks()) {
            end_ = UploadEnd::Held;
            return Finish();
        }
        for (int block = 1; block <= kBlocks; ++block) {
            if (!Step(BlockBeginFrame(block), 100)) return Finish();
            for (int k = 1; k <= kSlotsPerBlock; ++k) {
                const int row = BlockRow(block, k);
                if (!SendCell(row, kOnColumn, k)) return Finish();
                if (!SendCell(row, kOffColumn, k + kSlotsPerBlock)) return Finish();
                p_.ui.SetPosition(Control::ProgressBar1, (block - 1) * kSlotsPerBlock + k);
            }
            if (!Step(BlockEndFrame(block), 100)) return Finish();
        }
        p_.ui.SetPosition(Control::ProgressBar1, 100);
        SendFrame(p_, ExitConfigFrame);
        Delay(p_, 100);
        if (OperationInterrupted(p_)) return UploadEnd::Interrupted;
        p_.ui.SetPosition(Control::ProgressBar1, 0);
        return UploadEnd::Sent;
    }

private:
    // Writes one frame and pauses; false when the upload must end here.
    bool Step(const QString& frame, int pause)
    {
        SendFrame(p_, frame);
        return PauseAndGoOn(pause);
    }

    // The pause after a frame; false when the upload must end after it.
    bool PauseAndGoOn(int pause)
    {
        Delay(p_, pause);
        if (OperationInterrupted(p_)) {
            end_ = UploadEnd::Interrupted;
            return false;
        }
        if (guard_.stopRequested && guard_.stopRequested()) {
            end_ = UploadEnd::Stopped;
            return false;
        }
        return true;
    }

    // Sends one cell as a code record unless it is empty.
    bool SendCell(int row, int column, int slot)
    {
        // Read now, not in the check: the table stays editable while we send.
        const QString value = CellValue(p_.table, row, column);
        if (value.isEmpty()) return true;
        const QString record = CodeRecord(slot, value);
        const int written = SendFrame(p_, record);
        // A code that no longer converts went out as a zero-length write: not sent.
        if (written > 0 && written == record.size() / 2)
            Report(p_, {.kind = ModuleEvent::Kind::CodeSent, .cell = {row, column},
                        .bytes = QByteArray::fromHex(value.toLatin1())});
        return PauseAndGoOn(50);
    }

    // An upload cut short still takes the module out of configuration mode,
    // unless the window is going away (then nothing more may be written).
    UploadEnd Finish()
    {
        if (end_ == UploadEnd::Interrupted) return end_;
        SendFrame(p_, ExitConfigFrame);
        Delay(p_, 100);
        if (OperationInterrupted(p_)) return UploadEnd::Interrupted;
        p_.ui.SetPosition(Control::ProgressBar1, 0);
        return end_;
    }

    Program& p_;
    const UploadGuard& guard_;
    UploadEnd end_ = UploadEnd::Sent;
};

}  // namespace

bool FindBadCode(const ConfigTable& table, int& row, int& column, HexProblem* problem)
{
    for (int r = kFirstValueRow; r <= kLastValueRow; ++r) {
        for (int c : {kOnColumn, kOffColumn}) {
            const QString value = CellValue(table, r, c);
            if (value.isEmpty()) continue;
            if (HexToBytes(value, problem).isEmpty()) {
                row = r;
                column = c;
                return true;
            }
        }
    }
    return false;
}

void WriteModule(Program& p) { WriteModule(p, UploadGuard{}); }

UploadEnd WriteModule(Program& p, const UploadGuard& guard)
{
    if (!MayStartOperation(p)) return UploadEnd::NotStarted;

    // Every code is checked before the first frame, so a typing error is
    // found while the module is still untouched.
    int badRow = 0, badColumn = 0;
    HexProblem problem;
    if (FindBadCode(p.table, badRow, badColumn, &problem)) {
        ShowHexProblem(p, problem);
        // The codec's boxes deliver messages; the window may be going away.
        if (p.state.shuttingDown) return UploadEnd::NotStarted;
        ShowNotice(p, Texts::tr("位置在%1").arg(p.table.GetCellText(badRow, 0)));
        if (p.state.shuttingDown) return UploadEnd::NotStarted;
        p.table.SetCurrentCell(badRow, badColumn);
        return UploadEnd::NotStarted;
    }

    if (!Confirmed(p, Texts::tr("确认写入自定义数据"), Texts::tr("写入数据"))) return UploadEnd::NotStarted;
    if (!BeginExclusiveOperation(p)) return UploadEnd::NotStarted;

    const UploadEnd end = TableUpload(p, guard).Run();
    EndExclusiveOperation(p);
    return end;
}
