#pragma once
// The whole program on a real (offscreen) main window, talking through the
// built-in serial provider to velmora-sim on a pseudo-terminal. Boxes are
// answered OK by a script. Used by the end-to-end tests and the dump benchmark.

#include <QAbstractButton>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

#include "app/PortHandlers.h"
#include "app/Shell.h"
#include "app/WindowProgram.h"
#include "config/ConfigTable.h"
#include "app/Program.h"
#include "protocol/ModuleLink.h"
#include "serial/BuiltinProviders.h"
#include "serial/SerialLibrary.h"
#include "ui/BoxPresenter.h"
#include "ui/ListComboBox.h"
#include "ui/MainWindow.h"
#include "ui/QtUiServices.h"

// Answers every box OK and every file dialog with cancel; keeps what showed.
class OkBoxes : public BoxPresenter {
public:
    QStringList texts;
    QMessageBox::StandardButton ShowMessage(const MessageBoxRequest& request) override
    {
        texts << request.text;
        return QMessageBox::Ok;
    }
    bool ShowFileDialog(const FileDialogRequest&, QString*) override { return false; }
};

// velmora-sim as a child process; its printed lines are collected as they come.
class SimProcess {
public:
    ~SimProcess() { Stop(); }

    // Starts the simulator with `args` and waits for the port it prints first.
    bool Start(const QStringList& args)
    {
        Stop();
        lines.clear();
        partial_.clear();
        process_ = std::make_unique<QProcess>();
        process_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QObject::connect(process_.get(), &QProcess::readyReadStandardOutput, [this] { Collect(); });
        process_->start(Program(), args);
        if (!process_->waitForStarted(5000)) return false;
        QDeadlineTimer deadline(10000);
        while (lines.isEmpty() && !deadline.hasExpired()) {
            if (process_->state() != QProcess::Running) return false;
            QTest::qWait(10);
        }
        return !lines.isEmpty();
    }

    void Stop()
    {
        if (!process_) return;
        if (process_->state() != QProcess::NotRunning) {
            process_->terminate();  // lets it remove its link
            if (!process_->waitForFinished(5000)) {
                process_->kill();
                process_->waitForFinished(5000);
            }
        }
        Collect();
        process_.reset();
    }

    // Ends the simulator at once, as a crash or a pulled adapter would: its
    // end of the line closes for good, and its device goes with it. (Its
    // link, left behind, would name whatever pseudo-terminal the system
    // makes next under that number, another test's or anyone's.)
    void Kill()
    {
        if (!process_) return;
        process_->kill();
        process_->waitForFinished(5000);
        Collect();
        if (!Path().isEmpty()) QFile::remove(Path());
    }

    QString Path() const { return lines.value(0); }
    int Count(const QString& prefix) const
    {
        int n = 0;
        for (const QString& line : lines)
            if (line.startsWith(prefix)) ++n;
        return n;
    }
    bool Running() const { return process_ && process_->state() == QProcess::Running; }

    static QString Program()
    {
        return qEnvironmentVariable("VELMORA_BINARY_DIR", QStringLiteral(".")) + QStringLiteral("/velmora-sim");
    }

    QStringList lines;

private:
    void Collect()
    {
        if (!process_) return;
        partial_ += QString::fromUtf8(process_->readAllStandardOutput());
        qsizetype nl;
        while ((nl = partial_.indexOf(QLatin1Char('\n'))) >= 0) {
            lines << partial_.left(nl);
            partial_.remove(0, nl + 1);
        }
    }
    std::unique_ptr<QProcess> process_;
    QString partial_;
};

// A code for every value cell, of 1 to 12 bytes, different in every cell.
inline QByteArray CodeFor(int row, int column)
{
    QByteArray code;
    const int length = 1 + (row * 2 + column) % 12;
    for (int i = 0; i < length; ++i) code += char((row * 37 + column * 101 + i * 13) & 0xFF);
    return code;
}

// CodeFor as the table shows a code it has read.
inline QString CellTextFor(int row, int column)
{
    return QString::fromLatin1(CodeFor(row, column).toHex(' ').toUpper()) + QLatin1Char(' ');
}

// A value cell: row 1 to 96, column 1 "开" or 2 "关".
using Cell = std::pair<int, int>;

inline QList<Cell> AllCells()
{
    QList<Cell> cells;
    for (int row = 1; row <= 96; ++row) cells << Cell{row, 1} << Cell{row, 2};
    return cells;
}

// Sixteen cells in all three parts of the table and both columns, whose codes
// come in every length from 1 to 12 bytes and hold the bytes FD, F4 and F7
// that frames and records start with: what a read at a given pace must get
// right, without waiting for 192 codes.
inline QList<Cell> FewCells()
{
    return {{1, 1}, {1, 2}, {2, 1}, {2, 2}, {5, 2}, {6, 1}, {7, 2}, {28, 2},
            {33, 2}, {57, 1}, {63, 1}, {63, 2}, {64, 1}, {64, 2}, {65, 1}, {96, 2}};
}

// The rows in the order the simulator dumps them.
inline QList<int> DumpRows()
{
    QList<int> rows;
    for (int r = 1; r <= 63; r += 2) rows << r;
    for (int r = 2; r <= 64; r += 2) rows << r;
    for (int r = 65; r <= 96; ++r) rows << r;
    return rows;
}

// The simulator's memory file holding CodeFor in `cells`.
inline bool WriteMemory(const QString& path, const QList<Cell>& cells)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    for (const auto& [row, column] : cells)
        f.write(QByteArray::number(row) + ' ' + QByteArray::number(column) + ' ' + CodeFor(row, column).toHex(' ').toUpper() + '\n');
    return true;
}

// Runs the event loop the way the application's own loop runs, asleep in it
// until something comes, so the serial provider stamps bytes when they
// arrive, until `done` holds; false when `ms` passed first. (QTest::qWait
// sleeps between its passes: bytes arriving then are stamped with the whole
// sleep, and a quiet gap on the line can look shorter than it was.)
inline bool RunUntil(const std::function<bool()>& done, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QEventLoop loop;
        QTimer::singleShot(int(qMin<qint64>(20, deadline.remainingTime())), Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

class ProgramRig {
public:
    ProgramRig()
        : boxes(new OkBoxes),
          ui(std::unique_ptr<BoxPresenter>(boxes)),
          providers(MakeBuiltinProviders()),
          serial(FatalReportTo(ui), ProviderList(providers)),
          windowProgram(ui, serial, table),
          program(windowProgram.program)
    {
        window = std::make_unique<MainWindow>(table, MakeWindowHandlers(program));
        ui.Attach(window.get());
        window->RunCreatedHandler();
        // The exit save goes to a file of our own, not beside the test.
        program.document.SetPath(dir.filePath(QStringLiteral("data.dat")));
        window->show();
    }

    ~ProgramRig()
    {
        if (window && !window->DestroyedHandlerRan()) window->close();
        ui.Attach(nullptr);
        window.reset();
    }

    // Clicks a button the way the user does; false when it is disabled.
    bool Click(Control c)
    {
        auto* button = qobject_cast<QAbstractButton*>(window->Widget(c));
        if (!button || !button->isEnabled()) return false;
        button->click();
        return true;
    }

    // Lists the ports again and selects the one at `device`.
    bool SelectPort(const QString& device)
    {
        RefreshPortList(program.ui, program.serial);
        ListComboBox* box = window->Combo(Control::Combo_Port);
        for (int i = 0; i < box->count(); ++i)
            if (box->itemData(i, Qt::ToolTipRole).toString().startsWith(device)) {
                ui.SetSelection(Control::Combo_Port, i);
                return true;
            }
        return false;
    }

    bool SelectRate(Control box, int rate)
    {
        for (int i = 0; i < ui.ComboCount(box); ++i)
            if (ui.ComboItemText(box, i) == QString::number(rate)) {
                ui.SetSelection(box, i);
                return true;
            }
        return false;
    }

    void FillTable(const QList<Cell>& cells = AllCells())
    {
        for (const auto& [row, column] : cells) table.SetCellText(row, column, CellTextFor(row, column).trimmed());
    }
    void EmptyTable() { table.ClearRange(1, 1, 96, 2); }

    int RightCells() const
    {
        int right = 0;
        for (const auto& [row, column] : AllCells()) right += table.GetCellText(row, column) == CellTextFor(row, column);
        return right;
    }

    // "row,column: got | wanted" for every value cell that differs from
    // CodeFor in `cells` and nothing elsewhere.
    QStringList Mismatches(const QList<Cell>& cells) const
    {
        QStringList out;
        for (const auto& [row, column] : AllCells()) {
            const QString want = cells.contains(Cell{row, column}) ? CellTextFor(row, column) : QString();
            if (table.GetCellText(row, column) != want)
                out << QStringLiteral("%1,%2: %3| %4").arg(row).arg(column).arg(table.GetCellText(row, column), want);
        }
        return out;
    }

    // The text of every value cell, row by row.
    QStringList ValueCells() const
    {
        QStringList cells;
        for (const auto& [row, column] : AllCells()) cells << table.GetCellText(row, column);
        return cells;
    }

    QString Log() const { return ui.GetText(Control::Edit_Display); }
    int LogCount(const QString& text) const { return int(Log().count(text)); }
    int Bar() const { return ui.GetPosition(Control::ProgressBar1); }
    bool ModuleButtonsEnabled() const
    {
        for (Control c : kModuleButtons)
            if (ui.IsDisabled(c)) return false;
        return true;
    }
    QProgressBar* ProgressBar() const { return qobject_cast<QProgressBar*>(window->Widget(Control::ProgressBar1)); }

    QTemporaryDir dir;
    ConfigTable table;
    OkBoxes* boxes;  // owned by ui
    QtUiServices ui;
    std::vector<std::unique_ptr<LibraryProvider>> providers;
    SerialLibrary serial;
    WindowProgram windowProgram;
    Program& program;
    std::unique_ptr<MainWindow> window;

private:
    static QVector<LibraryProvider*> ProviderList(const std::vector<std::unique_ptr<LibraryProvider>>& all)
    {
        QVector<LibraryProvider*> list;
        for (const auto& p : all) list << p.get();
        return list;
    }
};

