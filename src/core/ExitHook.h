#pragma once
// Last work for a process that a library ends behind the program's back: Qt's
// display connection, for one, calls exit() when the display goes away. While
// an ExitHook lives, such an exit runs its work first; a normal return from
// main() destroys the hook before anything can call it.

#include <functional>

class ExitHook {
public:
    // One hook at a time; `work` runs at most once.
    explicit ExitHook(std::function<void()> work);
    ~ExitHook();
    ExitHook(const ExitHook&) = delete;
    ExitHook& operator=(const ExitHook&) = delete;
};
