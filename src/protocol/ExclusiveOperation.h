#pragma once
// Module operations that send across pauses hold the line alone: while one
// runs, the five module buttons and the port button are disabled, and a click
// that still reaches a handler (queued before the buttons went grey) finds
// an operation running and does nothing. Otherwise a second operation's frames would go out between two
// frames of the first, and the port could be closed under a running upload.

struct Program;

// True when a module operation may start now: none is running and the
// window is not being destroyed.
bool MayStartOperation(const Program& p);

// Claims the line: leaves a read given back (LeaveGivenBackRead), marks the
// operation running, disables the module buttons, then the port button.
// False (and nothing changed) when MayStartOperation is false.
bool BeginExclusiveOperation(Program& p);

// Another module operation begins: a read given back after going unanswered
// no longer resumes, and its dump is no longer listened to.
void LeaveGivenBackRead(Program& p);

// Gives the line back: the module buttons come back only if the port is open
// and no dump is running, the port button comes back. When the window is
// being destroyed no control is touched, since they are going away.
void EndExclusiveOperation(Program& p);

// True once the window is being destroyed or the port has closed under the
// operation (its device went away): the running operation must stop at once,
// without another write.
bool OperationInterrupted(const Program& p);
