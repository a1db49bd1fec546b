// save_racer FILE CODE: a window's exit save in a process of its own, for the
// race of two windows ending together: loads FILE, puts CODE in its first cell,
// says "ready" and saves at SIGTERM as the window does.

#include <QCoreApplication>
#include <csignal>
#include <cstdio>

#include "app/WindowProgram.h"
#include "config/ConfigTable.h"
#include "app/FileHandlers.h"
#include "app/Program.h"
#include "core/TerminationSignals.h"
#include "serial/SerialLibrary.h"
#include "tests/support/FakeUiServices.h"

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3) return 2;
    FakeUiServices ui;
    SerialLibrary serial{FatalReportTo(ui), {}};
    ConfigTable table;
    InitTable(table);
    WindowProgram window{ui, serial, table};
    Program& p = window.program;
    p.document.SetPath(QString::fromLocal8Bit(argv[1]));
    LoadCurrentTable(p.Files());
    table.SetCellText(1, 1, QString::fromLocal8Bit(argv[2]));
    TerminationSignals terminate({SIGTERM}, [&](int) {
        p.state.shuttingDown = true;
        const bool saved = SaveAtExit(p.Files());
        for (const QString& line : ui.consoleLines) std::fprintf(stderr, "%s\n", qPrintable(line));
        QCoreApplication::exit(saved ? 0 : 1);
    });
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}
