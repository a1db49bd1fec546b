#pragma once
// The one place that keeps the table as a read found it, and gives it back
// when the read does not complete: a read that gets no dump start, or ends
// without its dump end (no answer for 3 s, the port lost or closed, the
// window closed), leaves the table as it was before the read. A completed
// read lets them go: the table's undo history is what can take it back.

struct Program;

// Before a read empties the value cells (or a dump the module began by itself fills them).
void KeepTableBeforeRead(Program& p);

// The read completed: the table holds its result for good.
void KeepReadResult(Program& p);

// A read that has not completed gives the table back as it was before it,
// and the log says so; nothing happens when the table is not the read's.
// After a read left unanswered, its cells are kept so the read can resume.
void GiveBackUnfinishedRead(Program& p);

// True while a read given back after going unanswered may still resume.
bool MayResumeRead(const Program& p);
// The module went on after all: the read's own cells come back (the table as
// it stands now is what a later give-back returns), and the log says so.
void ResumeGivenBackRead(Program& p);
// The next module operation or a close: a read given back stays given back.
void ForgetGivenBackRead(Program& p);
