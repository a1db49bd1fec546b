#pragma once
// Click handlers of "设置波特率", "读取模块", "清空模块", "上报" and "写入模块".
// Each does nothing while another module operation is sending or once the
// window is being destroyed; the ones that pause hold the module buttons and
// the port button disabled while they send, and stop sending at once when the
// window closes underneath them.

#include <functional>

class ConfigTable;
struct HexProblem;
struct Program;

// After confirmation: enter, the module-baud box's selected rate, exit; the
// program's own port keeps its rate.
void SetModuleBaudRate(Program& p);
// After confirmation: enter, read request; empties every value cell and leaves
// the module buttons disabled until the dump ends.
void ReadModule(Program& p);
// After confirmation: enter, clear request, exit; the table is not touched.
void ClearModule(Program& p);
// The learn box's hex as one learn frame; logs only when the whole frame was written.
void LearnReport(Program& p);
// Checks every code, then after confirmation sends the table in three blocks
// with the progress bar running 1 … 96, 100, 0.
void WriteModule(Program& p);

// The window is ending while an operation has the module in configuration
// mode (a baud change, clear or upload sending, or a read under way): sends
// the exit frame at once, without the pause after it, so the module is not
// left there. Nothing when the port is closed or no operation is under way.
void LeaveConfigurationModeAtExit(Program& p);

// --- the upload for scripted use ------------------------------------------------

// The first value cell, in row order and "开" before "关", whose code does not
// convert, and what is wrong with it; false when every code is good.
bool FindBadCode(const ConfigTable& table, int& row, int& column, HexProblem* problem = nullptr);

// The codec's error box (caption "错误") saying what is wrong with a hex text.
void ShowHexProblem(Program& p, const HexProblem& problem);

// What a scripted upload may add to the window's. Either may be left empty.
struct UploadGuard {
    // Asked once the enter frame's pause is over; false sends the exit frame
    // instead of the blocks.
    std::function<bool()> mayBeginBlocks;
    // Asked after the pause of every frame before the exit frame; true ends
    // the upload there with the exit frame.
    std::function<bool()> stopRequested;
};

enum class UploadEnd {
    NotStarted,   // a bad code, no confirmation, or another operation running
    Sent,         // every frame went out
    Held,         // mayBeginBlocks said no: enter and exit frames only
    Stopped,      // stopRequested said yes: cut short, the exit frame sent
    Interrupted,  // the window is being destroyed: nothing more was written
};

// WriteModule under a guard: the same check, confirmation, frames, pauses and
// bar, and what became of it.
UploadEnd WriteModule(Program& p, const UploadGuard& guard);
