#pragma once
// The window's words for what the module and the line did: the log line (or
// notice) each event stands for, in the program's own voice. The command
// line tool hears the same events and says what it has to say in its own words.

struct ModuleEvent;
struct Program;

// Writes the log lines and shows the notice that `event` calls for; most
// events that change only the table or the bar call for none.
void NarrateInWindow(Program& p, const ModuleEvent& event);
