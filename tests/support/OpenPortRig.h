#pragma once
// The window's program wired to the recording fakes with an open port (COM3),
// a laid-out table and the module-baud box filled, plus a reading of the fake
// timeline in which consecutive waits merge into one "pause N". What opening
// the port recorded is forgotten: a test sees what follows it.

#include <QtTest>

#include "app/WindowProgram.h"
#include "config/ConfigTable.h"
#include "app/Program.h"
#include "protocol/ModuleLink.h"
#include "serial/SerialLibrary.h"
#include "tests/support/FakeSerialProvider.h"
#include "tests/support/FakeUiServices.h"

struct OpenPortRig {
    FakeUiServices ui;
    FakeSerialProvider port{&ui};
    SerialLibrary serial{FatalReportTo(ui), {&port}};
    ConfigTable table;
    WindowProgram window{ui, serial, table};
    Program& p = window.program;

    OpenPortRig()
    {
        InitTable(table);
        for (const char* rate : {"9600", "19200", "38400", "57600", "115200"})
            ui.ComboAddItem(Control::Combo_SetBaudRate, QString::fromLatin1(rate), 0, QString());
        ui.SetSelection(Control::Combo_SetBaudRate, 0);
        p.link.Open(3, 9600, QStringLiteral("COM3"));
        Forget();
    }

    // What the fakes recorded so far is forgotten.
    void Forget()
    {
        ui.timeline.clear();
        ui.texts.remove(Control::Edit_Display);
        ui.disabled.clear();
        ui.positionHistory.clear();
        port.calls.clear();
        port.writes.clear();
    }

    // The timeline without the progress steps, waits merged into "pause N".
    QStringList Steps() const
    {
        QStringList out;
        int pause = 0;
        for (const QString& line : ui.timeline) {
            if (line.startsWith(QLatin1String("wait "))) {
                pause += line.mid(5).toInt();
                continue;
            }
            if (pause) out << QStringLiteral("pause %1").arg(pause);
            pause = 0;
            if (!line.startsWith(QLatin1String("pos "))) out << line;
        }
        if (pause) out << QStringLiteral("pause %1").arg(pause);
        return out;
    }

    bool ModuleButtonsDisabled() const
    {
        for (Control c : kModuleButtons)
            if (!ui.IsDisabled(c)) return false;
        return true;
    }
};

// Compares steps; an expected "pause N" accepts any pause from N up to N + 10 ms
// (never shorter than asked, never much longer).
inline bool SameSteps(const QStringList& actual, const QStringList& expected)
{
    if (actual.size() != expected.size()) {
        qWarning() << "steps:" << actual << "\nexpected:" << expected;
        return false;
    }
    for (qsizetype i = 0; i < actual.size(); ++i) {
        const QString& a = actual.at(i);
        const QString& e = expected.at(i);
        const bool ok = e.startsWith(QLatin1String("pause ")) && a.startsWith(QLatin1String("pause "))
            ? a.mid(6).toInt() >= e.mid(6).toInt() && a.mid(6).toInt() <= e.mid(6).toInt() + 10
            : a == e;
        if (!ok) {
            qWarning() << "step" << i << "is" << a << "expected" << e << "\nsteps:" << actual;
            return false;
        }
    }
    return true;
}

inline const QString kEnter = QStringLiteral("write FD 66 66 66 66 AA AA AA BF");
inline const QString kExit = QStringLiteral("write FD 66 66 66 66 AA AA BB BF");
