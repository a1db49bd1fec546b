#include "core/ModuleEvents.h"

#include "core/EventNarration.h"
#include "core/Program.h"

void Report(Program& p, const ModuleEvent& event)
{
    NarrateInWindow(p, event);
    // A copy: an observer may attach or detach others while it hears this one.
    const QVector<ModuleObserver*> observers = p.observers;
    for (ModuleObserver* o : observers) o->OnModuleEvent(event);
}
