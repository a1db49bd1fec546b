#pragma once
// Moving the table to and from files: start-up load, exit save and the three
// file buttons.

#include <QString>

struct Program;

// "data.dat" in the program's folder, or in the user's data folder when the
// program's folder is not writable.
QString DefaultTableFilePath();
// Start-up load of the current file; remembers a file that exists but does not load.
bool LoadCurrentTable(Program& p);
// Save to the current file, keeping an unreadable original as ".bak" first.
bool SaveCurrentTable(Program& p);
// Title := "Velmora-自定义设备版   " + current file path.
void ShowCurrentFileInTitle(Program& p);

void OpenFile(Program& p);   // "打开文件"
void SaveFile(Program& p);   // "保存文件"
void SaveAs(Program& p);     // "另存文件"
