#pragma once
// F7 and the grid's "与模块比较": the module compared with the table. Works
// exactly when "读取模块" may run, asks nothing (nothing is replaced), sends
// what velmora-cli verify sends and confirms the dumps as it does, into a
// table of the comparison's own: the window's table never changes. The
// outcome goes into the log and onto the table's cells as marks.

struct ModuleParts;
struct TableHold;

// `comparing` is the flag `hold` follows: set from the first dump to the last.
void CompareWithModule(const ModuleParts& m, const TableHold& hold, bool& comparing);
