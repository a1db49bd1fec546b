#pragma once
// The window's program: the objects it owns (Program), the module link
// under it, the link's pacing by the window's message pump and receive timer,
// and the window's words and controls for what the link tells (heard first).

#include "core/ModuleEvents.h"
#include "app/Program.h"
#include "protocol/LinkPacing.h"
#include "protocol/ModuleLink.h"
#include "session/ModuleSession.h"
#include "session/TableDocument.h"

struct HexProblem;

// The link's clock, pauses and receive timer, on the interface services; the
// link lets go once the window is being destroyed (AppState::shuttingDown).
class WindowPacing : public LinkPacing {
public:
    explicit WindowPacing(UiServices& ui) : ui_(ui) {}
    // The flag that says the window is being destroyed.
    void EndWhen(const bool& shuttingDown) { shuttingDown_ = &shuttingDown; }

    quint32 Now() const override { return ui_.TickCount(); }
    void Pump(int waitMs) override { ui_.DeliverMessages(waitMs); }
    void SetReceiveInterval(int ms) override { ui_.SetInterval(Control::Timer_ReceiveData, ms); }
    bool Ending() const override { return shuttingDown_ && *shuttingDown_; }

private:
    UiServices& ui_;
    const bool* shuttingDown_ = nullptr;
};

// What the window shows for each event: its log lines and notices, the
// codec's error box, the bar, the module buttons, the port button's caption;
// and, from the link, whether the table is held for an operation.
class WindowNarration : public ModuleObserver {
public:
    explicit WindowNarration(Program& p) : p_(p) {}
    void OnModuleEvent(const ModuleEvent& event) override;

private:
    void Narrate(const ModuleEvent& event);

    Program& p_;
};

// How a write of the table into the module went, in one log line (standard
// error when the window was closed under it).
void TellWriteOutcome(const WindowWords& w, bool& compareHintGiven, const ModuleOutcome& outcome);
// What a baud change or clear adds to the lines of its frames: that the
// module did not answer, that the line sends back what it is sent, the
// module's new rate.
void TellShortOutcome(const WindowWords& w, ModuleRequest request, const ModuleOutcome& outcome);
// The one place the window follows whether an operation runs (the link
// decides it, or a comparison holds it): while one does, nothing replaces,
// saves or edits the table under it; all comes back when it ends.
void FollowOperation(const TableHold& hold);
// After an operation that heard bytes but none of the module's answers: one
// line saying what to check (波特率:, the port, the module's power), once until
// the next operation or the port's next open or close.
void HintIfNotTheModule(const WindowWords& w);
// The doubt mark on each of `codes`, its tool tip saying why.
void MarkDoubtful(ConfigTable& table, const QVector<DoubtfulCode>& codes);
// Cells by row title and column ("开关08控制 关"), up to twelve, then how many more.
QString CellNames(const ConfigTable& table, const QVector<CellPosition>& cells);
// The codec's error box (caption "错误") saying what is wrong with a hex text.
void ShowHexProblem(UiServices& ui, const HexProblem& problem);

// Everything the window's handlers reach, wired together: `program` owns
// the pieces the shell hands each handler.
struct WindowProgram {
    WindowProgram(UiServices& ui, SerialLibrary& serial, ConfigTable& table);

    WindowPacing pacing;
    ModuleSession session;
    TableDocument document;
    Program program;
    WindowNarration narration;
};
