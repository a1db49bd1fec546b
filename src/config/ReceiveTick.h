#pragma once
// The receive timer's handler: the program's only reader of the port.

struct Program;

void ReceiveTick(Program& p);
