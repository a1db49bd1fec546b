#pragma once
// Click handlers of "设置波特率", "读取模块", "清空模块", "上报" and "写入模块",
// and the receive timer's. Each reads what it needs from the window, asks the
// user, and has the module link do the rest; each does nothing while another
// module operation holds the line or once the window is being destroyed.

struct ModuleParts;
class ModuleLink;

// After confirmation: enter, the module-baud box's chosen rate (read once
// the enter frame's pause is over), exit; the program's own port keeps its rate.
void SetModuleBaudRate(const ModuleParts& m);
// After confirmation: enter, read request; every value cell emptied, the module
// buttons disabled until the dump ends.
void ReadModule(const ModuleParts& m);
// After confirmation: enter, clear request, exit; the table is not touched.
void ClearModule(const ModuleParts& m);
// The learn box's hex as one learn frame; logs only when the whole frame was written.
void LearnReport(const ModuleParts& m);
// Checks every code (the first bad one in the codec's box, then "位置在" and its
// row's title), then after confirmation sends the table in three blocks with
// the progress bar running 1 … 96, 100, 0.
void WriteModule(const ModuleParts& m);
// The receive timer's tick.
void ReceiveTick(ModuleLink& link);
