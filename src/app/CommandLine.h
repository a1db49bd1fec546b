#pragma once
// What velmora makes of its arguments before any window exists, and how it
// ends when no display can be opened.

#include <QString>
#include <cstdio>
#include <optional>

// --help and --version print to `out`; --language en|zh is put in `language`
// (left as it is without one), one argument that is no option in `file`; any
// other argument that is not one of Qt's own window-system options prints a
// one-line error and the usage to `err`.
// Returns the exit code when the program should end here (0 after help or
// version, 2 after an error), nullopt when it should start.
std::optional<int> ExitBeforeWindow(int argc, char** argv, std::FILE* out, std::FILE* err, QString* language = nullptr,
                                    QString* file = nullptr);

// Usage text for --help (and after an argument error).
const char* UsageText();

// While one exists, Qt's abort for want of a display becomes one line on
// standard error (which display was missing and how to get one) and exit 1.
// Qt's own messages meanwhile are held back, and passed on once the display
// is open.
class NoDisplayReport {
public:
    NoDisplayReport();
    ~NoDisplayReport();
    NoDisplayReport(const NoDisplayReport&) = delete;
    NoDisplayReport& operator=(const NoDisplayReport&) = delete;
};
