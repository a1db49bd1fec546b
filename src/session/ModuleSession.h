#pragma once
// One session with the module, for the window and velmora-cli alike: the
// module link on a table, and every operation carried out on it returning
// how it went (Outcomes.h). The echoes, the codes that went out, the line's
// verdict and the confirmation of codes across dumps are judged here, once;
// the front ends only word what comes back. Each front end still chooses its
// own frames: whether an upload's blocks wait for the enter echo, whether a
// read waits for its dump or runs on while the window goes on.

#include <QByteArray>
#include <functional>

#include "core/ModuleEvents.h"
#include "protocol/ModuleLink.h"
#include "session/Outcomes.h"

class ConfigTable;
class ConfirmedCodes;
class LinkPacing;
class SerialLibrary;

// On a busy machine the module's echo of the exit frame can come after the
// frame's pause; a write the module answered waits for it this long more.
constexpr int kLateExitEchoMs = 1000;

class ModuleSession : private ModuleObserver {
public:
    ModuleSession(SerialLibrary& serial, ConfigTable& table, LinkPacing& pacing);
    ~ModuleSession() override;
    ModuleSession(const ModuleSession&) = delete;
    ModuleSession& operator=(const ModuleSession&) = delete;

    // The port, the receive tick and the events, for whoever shows them.
    ModuleLink& Link() { return link_; }
    const ModuleLink& Link() const { return link_; }

    // Enter, clear request, exit; over once the line is judged.
    ModuleOutcome Clear(const StopRequest& stop = {});
    // Enter, the rate `rate` gives once the enter frame's pause is over, exit;
    // over once the line is judged. The program's own port keeps its rate.
    ModuleOutcome SetModuleBaud(const std::function<quint32()>& rate, const StopRequest& stop = {});
    // The table into the module (each cell read when its turn comes); `codes`
    // is how many it holds. `holdForEcho`: the blocks wait for the module's
    // echo of the enter frame, at most kLoopCheckMs, and only the exit frame
    // follows without it.
    ModuleOutcome Write(const CellText& cell, int codes, bool holdForEcho, const StopRequest& stop = {});
    // One learn frame; Done when every byte of it went out.
    ModuleOutcome LearnReport(const QByteArray& data, const StopRequest& stop = {});

    // The window's read: enter and read request; the read then runs on with
    // the receive tick, and LatestRead() says how it went once the link tells
    // that its dump ended or it gave up.
    ModuleOutcome StartRead(const StopRequest& stop = {});
    // How the latest read went, as far as it has come.
    ReadOutcome LatestRead() const;
    // One dump, waited for until it ends and the line settles (or the read
    // ends otherwise). Records bringing exactly the `expected` code of their
    // cell are taken whole.
    ReadOutcome ReadDump(const StopRequest& stop, const ExpectedCodes& expected = {});
    // Dumps until `confirmed` settles every code or no further dump may.
    // Done only when every code is confirmed; Unconfirmed, with the cells,
    // otherwise; how the dump ended when one did not end whole. `dumpBegins`
    // runs before each dump.
    ReadOutcome ReadConfirmed(ConfirmedCodes& confirmed, const StopRequest& stop, const ExpectedCodes& expected = {},
                              const std::function<void()>& dumpBegins = {});

private:
    void OnModuleEvent(const ModuleEvent& e) override;
    void Watch();
    OutcomeKind CutOff() const;
    ModuleOutcome Judged(OperationEnd end, const StopRequest& stop);
    void AwaitLateExitEcho(const StopRequest& stop);
    bool AwaitEnterEcho(const StopRequest& stop);

    LinkPacing& pacing_;
    ModuleLink link_;

    // What the link told during the operation under way.
    struct Watched {
        int enterEchoes = 0;
        bool exitEcho = false;
        bool requestSent = false;
        int codesSent = 0;
        bool portLost = false;
    } watched_;
    quint32 enterAt_ = 0;
};

// The value cells of `table` that hold a code (or any text: what an upload sends).
int CodesIn(const ConfigTable& table);
