// The upload of the table: the longest exchange with the module.

#include "config/ConfigTable.h"
#include "core/TableLayout.h"
#include "protocol/Frames.h"
#include "protocol/HexCodec.h"
#include "protocol/ModuleLink.h"
#include "protocol/Upload.h"

using namespace TableLayout;
using Kind = ModuleEvent::Kind;

// One upload of the table: frames, pauses and progress as the window's
// "写入模块" sends them, with the guard asked where it may hold the upload
// back or cut it short.
class TableUpload {
public:
    TableUpload(ModuleLink& link, const CellText& cell, const UploadGuard& guard)
        : link_(link), cell_(cell), guard_(guard) {}

    OperationEnd Run()
    {
        link_.SendFrame(EnterConfigFrame);
        link_.WatchForLoop();
        if (!PauseAndGoOn(FramePause::kEnter)) return Finish();
        if (guard_.mayBeginBlocks && !guard_.mayBeginBlocks()) {
            end_ = OperationEnd::Held;
            return Finish();
        }
        for (int block = 1; block <= kBlocks; ++block) {
            if (!Step(BlockBeginFrame(block), FramePause::kBlock)) return Finish();
            for (int k = 1; k <= kSlotsPerBlock; ++k) {
                const int row = BlockRow(block, k);
                if (!SendCell(row, kOnColumn, k)) return Finish();
                if (!SendCell(row, kOffColumn, k + kSlotsPerBlock)) return Finish();
                Progress((block - 1) * kSlotsPerBlock + k);
            }
            if (!Step(BlockEndFrame(block), FramePause::kBlock)) return Finish();
        }
        Progress(100);
        link_.SendFrame(ExitConfigFrame);
        link_.Delay(FramePause::kExit);
        if (link_.Interrupted()) return OperationEnd::Interrupted;
        Progress(0);
        return OperationEnd::Done;
    }

private:
    void Progress(int position) { link_.Report({.kind = Kind::Progress, .position = position}); }

    // Writes one frame and pauses; false when the upload must end here.
    bool Step(const QString& frame, int pause)
    {
        link_.SendFrame(frame);
        return PauseAndGoOn(pause);
    }

    // The pause after a frame; false when the upload must end after it.
    bool PauseAndGoOn(int pause)
    {
        link_.Delay(pause);
        if (link_.Interrupted()) {
            end_ = OperationEnd::Interrupted;
            return false;
        }
        // No module hears what we send: the upload ends as a stop would.
        if (const LineVerdict line = link_.LineSoFar(); line.judged && line.looped && !line.moduleEchoed) {
            end_ = OperationEnd::Looped;
            return false;
        }
        if (guard_.stop && guard_.stop()) {
            end_ = OperationEnd::Stopped;
            return false;
        }
        return true;
    }

    // Sends one cell as a code record unless it is empty.
    bool SendCell(int row, int column, int slot)
    {
        // Read now, not before the upload: the table stays editable while we send.
        const QString value = RemoveBlanks(cell_(row, column));
        if (value.isEmpty()) return true;
        const QString record = CodeRecord(slot, value);
        const int written = link_.Send(record, {row, column});
        // A code that no longer converts went out as a zero-length write: not sent.
        if (written > 0 && written == record.size() / 2)
            link_.Report({.kind = Kind::CodeSent, .cell = {row, column}, .bytes = QByteArray::fromHex(value.toLatin1())});
        return PauseAndGoOn(FramePause::kRecord);
    }

    // An upload cut short still takes the module out of configuration mode,
    // unless the port is gone or the link is ending (then nothing more may be written).
    OperationEnd Finish()
    {
        if (end_ == OperationEnd::Interrupted) return end_;
        link_.SendFrame(ExitConfigFrame);
        link_.Delay(FramePause::kExit);
        if (link_.Interrupted()) return OperationEnd::Interrupted;
        Progress(0);
        return end_;
    }

    ModuleLink& link_;
    const CellText& cell_;
    const UploadGuard& guard_;
    OperationEnd end_ = OperationEnd::Done;
};

OperationEnd ModuleLink::Upload(const CellText& cell, const UploadGuard& guard)
{
    OperationEnd refused;
    if (!Begin(guard.stop, refused)) return refused;
    const OperationEnd end = TableUpload(*this, cell, guard).Run();
    if (end == OperationEnd::Done) {
        // A short upload is over before its line is judged.
        JudgeLine(guard.stop);
        if (Interrupted()) return End(OperationEnd::Interrupted);
    }
    return End(end);
}

bool FindBadCode(const ConfigTable& table, int& row, int& column, HexProblem* problem)
{
    for (int r = kFirstValueRow; r <= kLastValueRow; ++r) {
        for (int c : {kOnColumn, kOffColumn}) {
            const QString value = RemoveBlanks(table.GetCellText(r, c));
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
