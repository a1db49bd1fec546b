#pragma once
// The receive timer's handler: the program's only reader of the port, and the
// judging of what the module answers. Where one answer ends and the next
// begins is AnswerFraming's; what each means is told as events (Report).

#include "protocol/AnswerFraming.h"

struct Program;

// Carries one whole answer out on the table, the bar, the flag, the read's
// outcome and the dump's marks, and reports it.
void ApplyAnswer(Program& p, const Answer& answer);

// Progress position for a record of row byte `row` (0 … 255).
int RecordPosition(int row);

// The line counts as quiet once no byte has arrived for this long. A USB
// adapter holds bytes back for up to 16 ms (its latency timer) and hands them
// over at once, so one answer may arrive in pieces 16 ms apart; the rest is
// room for the adapter's frame timing and for the event loop noting the
// arrival late on a busy machine.
constexpr int kQuietMs = 30;

// A read gives up when no record or known answer came this long after the
// request or the last of them; stray bytes do not keep it alive.
constexpr int kNoAnswerMs = 3000;

// The receive timer's interval while the port is open and nothing is under
// way (nothing held, no read, no operation): a slow look, since arriving
// bytes and a lost device bring the quick pace back by themselves.
constexpr int kIdleTickMs = 500;

// The tick: takes every byte that arrived, with its arrival time, and judges
// the answers that are whole; notices a device that went away (closes the
// port, ClosePortOnLoss, and gives back the table of a read it cut off) and
// a read the module leaves unanswered (logs "模块无应答", gives the buttons
// and the table back, ReadEnd::NoAnswer; records that still come before the
// next operation or a close resume it); then sets the timer's pace for what
// is left to do. Reads nothing while the port is closed.
void ReceiveTick(Program& p);
