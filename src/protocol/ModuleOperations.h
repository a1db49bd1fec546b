#pragma once
// Click handlers of "设置波特率", "读取模块", "清空模块", "上报" and "写入模块".

struct Program;

void SetModuleBaudRate(Program& p);
void ReadModule(Program& p);
void ClearModule(Program& p);
void LearnReport(Program& p);
void WriteModule(Program& p);
