#pragma once
// What an upload checks before anything is sent (ModuleLink::Upload sends).

class ConfigTable;
struct HexProblem;

// The first value cell, in row order and "开" before "关", whose code does not
// convert, and what is wrong with it; false when every code is good.
bool FindBadCode(const ConfigTable& table, int& row, int& column, HexProblem* problem = nullptr);
