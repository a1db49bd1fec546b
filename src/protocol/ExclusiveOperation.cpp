#include "protocol/ExclusiveOperation.h"

#include "core/Program.h"
#include "protocol/TableBeforeRead.h"

bool MayStartOperation(const Program& p)
{
    return !p.state.operationRunning && !p.state.shuttingDown;
}

bool BeginExclusiveOperation(Program& p)
{
    if (!MayStartOperation(p)) return false;
    LeaveGivenBackRead(p);
    p.state.operationRunning = true;
    DisableModuleButtons(p);
    p.ui.SetDisabled(Control::Button_TogglePort, true);
    return true;
}

void LeaveGivenBackRead(Program& p)
{
    if (!MayResumeRead(p)) return;
    ForgetGivenBackRead(p);
    if (p.state.readEnd != ReadEnd::Running) p.state.extracting = false;
}

void EndExclusiveOperation(Program& p)
{
    p.state.operationRunning = false;
    if (p.state.shuttingDown) return;
    if (p.state.portOpen && !p.state.extracting) EnableModuleButtons(p);
    p.ui.SetDisabled(Control::Button_TogglePort, false);
}

bool OperationInterrupted(const Program& p)
{
    // Operations start only with the port open (their buttons are grey
    // otherwise), so a closed port means it was lost while they ran.
    return p.state.shuttingDown || !p.state.portOpen;
}
