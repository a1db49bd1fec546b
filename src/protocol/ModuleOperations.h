#pragma once
// Click handlers of "设置波特率", "读取模块", "清空模块", "上报" and "写入模块".
// Each does nothing while another module operation is sending or once the
// window is being destroyed; the ones that pause hold the module buttons and
// the port button disabled while they send, and stop sending at once when the
// window closes underneath them.

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
