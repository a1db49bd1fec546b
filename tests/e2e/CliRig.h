#pragma once
// velmora-cli as scripts run it, in a folder of the test's own, with two
// simulated modules on links there (started when a case needs them). Shared
// by the command-line tests of each area.

#include <QtTest>

#include "ProgramRig.h"
#include "config/TableCsv.h"
#include "config/TableFile.h"
#include "protocol/HexCodec.h"
#include "tests/support/FileBytes.h"

struct CliRun {
    int status = -1;
    QByteArray out;
    QString err;
};

// A laid-out table with `cells` filled in, saved as the window saves it.
inline QByteArray TableFileWith(const QMap<Cell, QString>& cells)
{
    ConfigTable table;
    InitTable(table);
    for (auto it = cells.cbegin(); it != cells.cend(); ++it) table.SetCellText(it.key().first, it.key().second, it.value());
    return WriteTableFile(table.Content());
}

// The CSV of a laid-out table with `cells` filled in, every row in it as export writes it.
inline QByteArray CsvWith(const QMap<Cell, QString>& cells)
{
    ConfigTable table;
    InitTable(table);
    for (auto it = cells.cbegin(); it != cells.cend(); ++it) table.SetCellText(it.key().first, it.key().second, it.value());
    return WriteTableCsv(CodesOf(table));
}

// CodeFor in `cells`, as the window holds codes it has read.
inline QMap<Cell, QString> CodesIn(const QList<Cell>& cells)
{
    QMap<Cell, QString> codes;
    for (const Cell& cell : cells) codes[cell] = BytesToHex(CodeFor(cell.first, cell.second));
    return codes;
}

// A code as the CSV writes it: upper-case pairs, one space between them.
inline QString Canonical(const QByteArray& code) { return QString::fromLatin1(code.toHex(' ').toUpper()); }

struct CliRig {
    QTemporaryDir dir;
    SimProcess sims[2];
    QString links[2] = {Path(QStringLiteral("module0.tty")), Path(QStringLiteral("module1.tty"))};
    QString memories[2] = {Path(QStringLiteral("module0.mem")), Path(QStringLiteral("module1.mem"))};

    QString Path(const QString& name) const { return dir.filePath(name); }

    // Runs velmora-cli to its end (a generous limit only guards against a hang).
    // `setUp` may redirect its streams before it starts.
    CliRun Cli(const QStringList& args, const std::function<void(QProcess&)>& whileRunning = {},
               const std::function<void(QProcess&)>& setUp = {})
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // No display at all: the tool must not need one.
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.insert(QStringLiteral("VELMORA_EXTRA_PORTS"), links[0] + QLatin1Char(':') + links[1]);
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(dir.path());
        if (setUp) setUp(p);
        p.start(Program(), args);
        CliRun run;
        if (!p.waitForStarted(10000)) return run;
        if (whileRunning) whileRunning(p);
        if (!p.waitForFinished(120000)) p.kill();
        p.waitForFinished(5000);
        run.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        run.out = p.readAllStandardOutput();
        run.err = QString::fromUtf8(p.readAllStandardError());
        return run;
    }

    // Starts simulator `i`; it writes each answer whole, so that a busy
    // machine cannot stall the line in the middle of a code.
    void StartSim(int i, const QStringList& extra = {})
    {
        const QStringList args{QStringLiteral("--link"), links[i], QStringLiteral("--memory"), memories[i],
                               QStringLiteral("--pace"), QStringLiteral("50"), QStringLiteral("--no-wire-time")};
        QVERIFY(sims[i].Start(args + extra));
    }

    // The simulated module's memory: "row column CODE" lines.
    QStringList Memory(int i) const
    {
        QStringList lines = QString::fromLatin1(ReadAll(memories[i])).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        lines.removeIf([](const QString& l) { return l.startsWith(QLatin1Char('#')); });
        return lines;
    }

    static QString Program() { return qEnvironmentVariable("VELMORA_BINARY_DIR") + QStringLiteral("/velmora-cli"); }
};
