#include "core/ExitHook.h"

#include <cstdlib>

namespace {
// atexit() takes a plain function, so the work it runs has to live here.
std::function<void()>* g_work = nullptr;
bool g_registered = false;

void RunWork()
{
    std::function<void()>* work = g_work;
    g_work = nullptr;
    if (work && *work) (*work)();
}
}  // namespace

ExitHook::ExitHook(std::function<void()> work)
{
    delete g_work;
    g_work = new std::function<void()>(std::move(work));
    // Registered as late as the hook is made, so that what the program built
    // before (Qt's own globals among it) is torn down only after the work ran.
    if (!g_registered) g_registered = std::atexit(RunWork) == 0;
}

ExitHook::~ExitHook()
{
    delete g_work;
    g_work = nullptr;
}
