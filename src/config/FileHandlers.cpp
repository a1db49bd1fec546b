#include "config/FileHandlers.h"

#include <QCoreApplication>

#include "app/Program.h"
#include "config/ConfigTable.h"

// Placeholder bodies until the table file lands.
QString DefaultTableFilePath() { return QCoreApplication::applicationDirPath() + QStringLiteral("/data.dat"); }
bool LoadCurrentTable(Program& p) { return p.table.LoadTable(p.state.currentFilePath); }
bool SaveCurrentTable(Program& p) { return p.table.SaveTable(p.state.currentFilePath); }
void ShowCurrentFileInTitle(Program& p) { p.ui.SetTitle(kTitlePrefix + p.state.currentFilePath); }
void OpenFile(Program&) {}
void SaveFile(Program&) {}
void SaveAs(Program&) {}
