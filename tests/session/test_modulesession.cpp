// How every operation went, judged by the session on lines of every manner,
// at a fake clock: no window, no words, only the outcome's facts.

#include <QtTest>

#include "config/ConfigTable.h"
#include "serial/SerialLibrary.h"
#include "session/ConfirmedCodes.h"
#include "session/ModuleSession.h"
#include "tests/support/FakeClockPacing.h"
#include "tests/support/FakeSerialProvider.h"

namespace {

enum class Manner { Module, Silent, Loopback, HearsOwn, LostMidway };
enum class Operation { Clear, ModuleBaud, WindowWrite, HeldWrite, Read };

QByteArray Bytes(const char* hex) { return QByteArray::fromHex(hex); }
const QByteArray kEnter = Bytes("FD66666666AAAAAABF");
const QByteArray kExit = Bytes("FD66666666AAAABBBF");
const QByteArray kReadRequest = Bytes("FD66666666AAABDDBF");
const QByteArray kDump = kReadRequest + Bytes("F4F7010111") + Bytes("F4F7600222") + Bytes("FD66666666AAABDEBF");

struct SessionRig {
    FakeUiServices ui;
    FakeSerialProvider port{&ui};
    SerialLibrary serial{FatalReportTo(ui), {&port}};
    ConfigTable table;
    FakeClockPacing pacing{ui};
    ModuleSession session{serial, table, pacing};

    explicit SessionRig(Manner manner)
    {
        InitTable(table);
        table.SetCellText(1, 1, QStringLiteral("11"));
        table.SetCellText(96, 2, QStringLiteral("22"));
        pacing.tick = [this] { session.Link().ReceiveTick(); };
        port.notesArrivals = true;
        port.sendsBack = manner == Manner::Loopback || manner == Manner::HearsOwn;
        if (manner != Manner::Silent && manner != Manner::Loopback)
            port.onWrite = [this, manner](const QByteArray& bytes) {
                const quint32 at = ui.clock + 5;
                if (bytes == kEnter || bytes == kExit) port.ArriveAt(at, bytes);
                if (bytes == kReadRequest && manner != Manner::LostMidway) port.ArriveAt(at, kDump);
            };
        if (manner == Manner::LostMidway) ui.onDeliver = [this] { port.deviceGone = port.deviceGone || ui.clock >= 150; };
        session.Link().Open(3, 9600, QStringLiteral("COM3"));
    }

    OutcomeKind Run(Operation operation, ModuleOutcome* facts = nullptr)
    {
        const CellText cells = [this](int row, int column) { return table.GetCellText(row, column); };
        ModuleOutcome o;
        switch (operation) {
        case Operation::Clear: o = session.Clear(); break;
        case Operation::ModuleBaud: o = session.SetModuleBaud([] { return 115200u; }); break;
        case Operation::WindowWrite: o = session.Write(cells, 2, false); break;
        case Operation::HeldWrite: o = session.Write(cells, 2, true); break;
        case Operation::Read: return session.ReadDump({}).kind;
        }
        if (facts) *facts = o;
        return o.kind;
    }
};

}  // namespace

Q_DECLARE_METATYPE(Manner)
Q_DECLARE_METATYPE(Operation)
Q_DECLARE_METATYPE(OutcomeKind)

class ModuleSessionTest : public QObject {
    Q_OBJECT

private slots:
    // One outcome for each line and operation, whichever front end asks.
    void everyLineGivesOneOutcome_data()
    {
        QTest::addColumn<Manner>("manner");
        QTest::addColumn<Operation>("operation");
        QTest::addColumn<OutcomeKind>("expected");
        using O = OutcomeKind;
        const struct {
            const char* name;
            Manner manner;
            O clear, baud, write, held, read;
        } lines[] = {
            {"a module", Manner::Module, O::Done, O::Done, O::Done, O::Done, O::Done},
            {"nothing", Manner::Silent, O::NoAnswer, O::NoAnswer, O::NoAnswer, O::NoAnswer, O::NoAnswer},
            {"a loop", Manner::Loopback, O::Looped, O::Looped, O::Looped, O::Looped, O::NoAnswer},
            {"a module behind an adapter that hears itself", Manner::HearsOwn, O::Done, O::Done, O::Done, O::Done, O::Done},
            {"a port lost midway", Manner::LostMidway, O::PortLost, O::PortLost, O::PortLost, O::PortLost, O::PortLost},
        };
        for (const auto& l : lines) {
            QTest::addRow("%s, clear", l.name) << l.manner << Operation::Clear << l.clear;
            QTest::addRow("%s, module baud", l.name) << l.manner << Operation::ModuleBaud << l.baud;
            QTest::addRow("%s, window's write", l.name) << l.manner << Operation::WindowWrite << l.write;
            QTest::addRow("%s, held write", l.name) << l.manner << Operation::HeldWrite << l.held;
            QTest::addRow("%s, read", l.name) << l.manner << Operation::Read << l.read;
        }
    }
    void everyLineGivesOneOutcome()
    {
        QFETCH(Manner, manner);
        QFETCH(Operation, operation);
        QFETCH(OutcomeKind, expected);
        SessionRig rig(manner);
        QCOMPARE(rig.Run(operation), expected);
        // The line is free again for whatever comes next.
        QVERIFY(!rig.session.Link().OperationRunning());
    }

    void outcomesCarryTheirFacts()
    {
        ModuleOutcome o;
        SessionRig module(Manner::Module);
        module.Run(Operation::ModuleBaud, &o);
        QVERIFY(o.moduleEchoed && o.exitEcho && o.requestSent && !o.lineLooped);
        QCOMPARE(o.rate, 115200u);
        module.Run(Operation::WindowWrite, &o);
        QCOMPARE(o.codesSent, 2);
        QCOMPARE(o.codes, 2);

        SessionRig silent(Manner::Silent);
        silent.Run(Operation::HeldWrite, &o);
        QVERIFY(o.blocksHeld && !o.moduleEchoed);
        QCOMPARE(o.codesSent, 0);
        // Only the enter and exit frames went out.
        QCOMPARE(silent.port.writes.size(), qsizetype(2));

        SessionRig loop(Manner::Loopback);
        loop.Run(Operation::Clear, &o);
        QVERIFY(o.lineLooped && !o.moduleEchoed);
    }

    void aConfirmedReadConfirmsEveryCodeWithTwoDumps()
    {
        SessionRig rig(Manner::Module);
        ConfirmedCodes confirmed(false);
        const ReadOutcome read = rig.session.ReadConfirmed(confirmed, {});
        QCOMPARE(read.kind, OutcomeKind::Done);
        QCOMPARE(read.dumps, 2);
        QCOMPARE(read.codes, 2);
        QCOMPARE(confirmed.Code(1, 1), QByteArray("\x11"));
        QCOMPARE(confirmed.Code(96, 2), QByteArray("\x22"));
        QVERIFY(confirmed.Unconfirmed().isEmpty());
    }

    // A dump that never started is told as the read that failed; whole
    // dumps that disagree leave codes unconfirmed, told apart from it.
    void aConfirmedReadTellsAFailedDumpFromUnconfirmedCodes()
    {
        for (bool started : {false, true}) {
            SessionRig rig(Manner::Silent);
            int dumps = 0;
            rig.port.onWrite = [&](const QByteArray& bytes) {
                if (bytes != kReadRequest) return;
                const QByteArray code = QByteArray(1, char(++dumps));
                rig.port.ArriveAt(rig.ui.clock + 5, (started ? kReadRequest + Bytes("F4F70101") + code : Bytes("0102"))
                                                         + Bytes("FD66666666AAABDEBF"));
            };
            ConfirmedCodes confirmed(false);
            const ReadOutcome read = rig.session.ReadConfirmed(confirmed, {});
            QCOMPARE(read.kind, started ? OutcomeKind::Unconfirmed : OutcomeKind::Unclear);
            QCOMPARE(read.unconfirmed.contains(CellPosition{1, 1}), started);
        }
    }
};

QTEST_GUILESS_MAIN(ModuleSessionTest)
#include "test_modulesession.moc"
