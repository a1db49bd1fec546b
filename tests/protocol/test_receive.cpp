#include <QtTest>

#include "app/ModuleHandlers.h"
#include "app/Shell.h"
#include "config/ConfigTable.h"
#include "config/TableHistory.h"
#include "core/ModuleEvents.h"
#include "app/Program.h"
#include "core/TableLayout.h"
#include "protocol/HexCodec.h"
#include "protocol/ModuleLink.h"
#include "tests/support/OpenPortRig.h"

namespace {

QByteArray Bytes(const char* hex) { return QByteArray::fromHex(hex); }

const QByteArray kEnterEcho = Bytes("FD66666666AAAAAABF");
const QByteArray kExitEcho = Bytes("FD66666666AAAABBBF");
const QByteArray kDumpStart = Bytes("FD66666666AAABDDBF");
const QByteArray kDumpEnd = Bytes("FD66666666AAABDEBF");

const QString kEnterLine = QStringLiteral("模块进入配置模式\r\n");
const QString kStartLine = QStringLiteral("开始从模块提取数据\r\n");
const QString kEndLine = QStringLiteral("数据提取完成\r\n");

// The line naming a read's doubtful cells ("开关01控制 开、…"), or nothing.
QString DoubtNames(const ConfigTable& table, const QVector<CellPosition>& cells)
{
    QStringList names;
    for (const CellPosition& c : cells) names << table.GetCellText(c.row, 0) + QLatin1Char(' ') + table.GetCellText(0, c.column);
    return cells.isEmpty() ? QString() : QStringLiteral("可能有误的代码：") + names.join(QStringLiteral("、")) + QStringLiteral("\r\n");
}
const QString kGivenBackLine = QStringLiteral("读取未完成，配置表已恢复为读取前的内容\r\n");

// A record of the module's dump.
QByteArray Record(int row, int column, const char* code) { return Bytes("F4F7") + char(row) + char(column) + Bytes(code); }

// Bytes that reach the line `afterMs` after the piece before them.
struct Piece {
    int afterMs;
    QByteArray bytes;
};
using Pieces = QList<Piece>;

QString HexLine(const QByteArray& bytes) { return FakeSerialProvider::Spaced(bytes) + QStringLiteral(" \r\n"); }

// A program with an open port on the recording fakes and a laid-out table,
// its module buttons greyed as while a read waits for the dump; it keeps the
// events the link reports.
struct Rig : OpenPortRig, ModuleObserver {
    QVector<ModuleEvent> events;

    Rig()
    {
        DisableModuleButtons(p.ui);
        p.link.Listen(this);
    }
    // What the module and the line did; what it does to the bar and the buttons is seen on them.
    quint32 unansweredAt = 0;  // fake clock when a read first went unanswered
    void OnModuleEvent(const ModuleEvent& e) override
    {
        using Kind = ModuleEvent::Kind;
        if (e.kind == Kind::ReadUnanswered && unansweredAt == 0) unansweredAt = ui.clock;
        for (Kind control : {Kind::Progress, Kind::OperationBegan, Kind::OperationEnded, Kind::ModuleFree})
            if (e.kind == control) return;
        events << e;
    }

    // One tick of the receive timer, 10 ms after the last.
    void Tick()
    {
        ui.clock += 10;
        ReceiveTick(p.link);
    }
    // Ticks until the line has been quiet long enough for what is held to be judged.
    void Quiet()
    {
        for (int waited = 0; waited <= kQuietMs; waited += 10) Tick();
    }
    // The pieces reach the line at their times, taken by the ticks as they
    // come; then the line goes quiet.
    void Play(const Pieces& pieces)
    {
        quint32 at = ui.clock;
        for (const Piece& piece : pieces) port.ArriveAt(at += piece.afterMs, piece.bytes);
        while (!port.line.empty()) Tick();
        Quiet();
        while (Read().Settling()) Tick();  // a dump is told once its settle time is over
    }
    void Arrive(const QByteArray& whole) { Play({{1, whole}}); }

    void StartDump() { Arrive(kDumpStart); }
    // Fills every value cell with "OLD" and reads: the request goes out, the table empties.
    void StartRead()
    {
        for (int row = 1; row <= 96; ++row)
            for (int column : {1, 2}) table.SetCellText(row, column, QStringLiteral("OLD"));
        EnableModuleButtons(p.ui);
        ReadModule(p.Modules());
    }
    QString Log() const { return ui.Log(); }
    // Every value cell that is not empty, as "row,column=text".
    QStringList Cells() const
    {
        QStringList out;
        for (int row = 1; row <= 96; ++row)
            for (int column : {1, 2})
                if (!table.GetCellText(row, column).isEmpty())
                    out << QStringLiteral("%1,%2=%3").arg(row).arg(column).arg(table.GetCellText(row, column));
        return out;
    }
    bool TableIsOld() const { return Cells().size() == 192 && Cells().filter(QStringLiteral("=OLD")).size() == 192; }
    bool ButtonsEnabled() const
    {
        for (Control c : kModuleButtons)
            if (ui.IsDisabled(c)) return false;
        return true;
    }
    const ModuleRead& Read() const { return p.link.Reading(); }
    QVector<ModuleEvent::Kind> Kinds() const
    {
        QVector<ModuleEvent::Kind> out;
        for (const ModuleEvent& e : events) out << e.kind;
        return out;
    }
};

}  // namespace

Q_DECLARE_METATYPE(Pieces)

class ReceiveTickTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The four fixed answers are whole once their nine bytes are in, inside a
    // dump or outside, and whatever follows them begins a new answer.
    void fixedAnswersAreWholeAtTheirNinthByte_data()
    {
        QTest::addColumn<Pieces>("pieces");
        QTest::addColumn<QString>("log");
        const QString exitLine = QStringLiteral("模块退出配置模式\r\n");
        QTest::newRow("enter and exit echo") << Pieces{{1, kEnterEcho}, {50, kExitEcho}} << kEnterLine + exitLine;
        QTest::newRow("an echo and one byte more") << Pieces{{1, kEnterEcho + Bytes("00")}} << kEnterLine + HexLine(Bytes("00"));
        QTest::newRow("two echoes at once") << Pieces{{1, kEnterEcho + kEnterEcho}} << kEnterLine + kEnterLine;
        for (int ms : {10, 30})
            QTest::addRow("two echoes %d ms apart", ms) << Pieces{{1, kEnterEcho}, {ms, kEnterEcho}} << kEnterLine + kEnterLine;
        QTest::newRow("noise before an echo") << Pieces{{1, Bytes("0102") + kEnterEcho}} << HexLine(Bytes("0102")) + kEnterLine;
        QTest::newRow("a record, then a dump end, outside a dump")
            << Pieces{{1, Record(0x60, 1, "33") + kDumpEnd}} << HexLine(Record(0x60, 1, "33")) + kEndLine;
        QTest::newRow("a whole dump in one breath")
            << Pieces{{1, kEnterEcho + kDumpStart + Record(1, 1, "AA") + Record(2, 1, "BB") + kDumpEnd}}
            << kEnterLine + kStartLine + kEndLine;
        QTest::newRow("a dump end in two pieces") << Pieces{{1, kDumpStart + Record(1, 1, "AA") + kDumpEnd.left(4)}, {40, kDumpEnd.mid(4)}}
                                                  << kStartLine + kEndLine;
        // Outside a dump, bytes that begin a fixed answer wait for the rest however long the gap.
        QTest::newRow("stray bytes, then an echo split by 60 ms") << Pieces{{1, Bytes("0102") + kEnterEcho.left(3)}, {60, kEnterEcho.mid(3)}}
                                                                 << HexLine(Bytes("0102")) + kEnterLine;
        QTest::newRow("the start of an echo gone wrong") << Pieces{{1, kEnterEcho.left(6)}, {40, Bytes("01")}} << HexLine(kEnterEcho.left(6) + Bytes("01"));
    }
    void fixedAnswersAreWholeAtTheirNinthByte()
    {
        QFETCH(Pieces, pieces);
        QFETCH(QString, log);
        Rig r;
        r.Play(pieces);
        QCOMPARE(r.Log(), log);
        if (log.endsWith(kEndLine)) {
            QVERIFY(!r.Read().Dumping());
            QCOMPARE(r.ui.GetPosition(Control::ProgressBar1), 0);
            QVERIFY(r.ButtonsEnabled());
        }
    }

    // In a dump a record runs to the next address or fixed answer, never to a
    // quiet gap alone. After the first record, bytes that are no record of a
    // value cell or known answer are shown, the code before them is doubtful
    // and the dump is not whole (it vouches for no empty cell); the dump end says so.
    void dumpRecordsAreFramedByTheirStructure_data()
    {
        QTest::addColumn<Pieces>("pieces");  // after the dump start; the dump end follows 20 ms later
        QTest::addColumn<QStringList>("cells");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QVector<CellPosition>>("doubtful");
        QTest::addColumn<bool>("whole");
        using Cells = QVector<CellPosition>;
        QTest::newRow("back to back, F4 F7 in a code") << Pieces{{20, Record(1, 1, "11") + Record(1, 2, "22") + Record(0x41, 2, "33F4F7") + Record(0x60, 1, "44")}}
                                      << QStringList{"1,1=11 ", "1,2=22 ", "65,2=33 ", "96,1=44 "} << HexLine(Bytes("F4F7")) << Cells{{65, 2}} << false;
        QTest::newRow("pause in the marker") << Pieces{{20, Bytes("F4")}, {40, Bytes("F70301AABB")}, {20, Record(3, 2, "CC")}}
                                             << QStringList{"3,1=AA BB ", "3,2=CC "} << QString() << Cells{} << true;
        QTest::newRow("pause in the address") << Pieces{{20, Bytes("F4F703")}, {40, Bytes("01AABB")}, {40, Bytes("F4F7")}, {40, Bytes("0302CC")}}
                                              << QStringList{"3,1=AA BB ", "3,2=CC "} << QString() << Cells{} << true;
        QTest::newRow("pauses in the address, then in the code") << Pieces{{20, Bytes("F4")}, {100, Bytes("F7")}, {100, Bytes("0301AA")}, {100, Bytes("BB")}}
                                                                 << QStringList{"3,1=AA "} << HexLine(Bytes("BB")) << Cells{{3, 1}} << false;
        QTest::newRow("pause in a code") << Pieces{{20, Record(3, 1, "AA")}, {40, Bytes("BB")}, {20, Record(3, 2, "CC")}}
                                         << QStringList{"3,1=AA ", "3,2=CC "} << HexLine(Bytes("BB")) << Cells{{3, 1}} << false;
        QTest::newRow("a pause of the quiet time in a code") << Pieces{{20, Record(3, 1, "AA")}, {kQuietMs, Bytes("BB")}, {20, Record(3, 2, "CC")}}
                                                             << QStringList{"3,1=AA ", "3,2=CC "} << HexLine(Bytes("BB")) << Cells{{3, 1}} << false;
        QTest::newRow("noise 35 ms behind a record") << Pieces{{20, Record(3, 1, "A01100")}, {35, Bytes("1A65345A")}, {15, Record(3, 2, "CC")}}
                                                     << QStringList{"3,1=A0 11 00 ", "3,2=CC "} << HexLine(Bytes("1A65345A")) << Cells{{3, 1}} << false;
        QTest::newRow("a code ending like a marker") << Pieces{{20, Record(3, 1, "AAF4")}, {40, Record(3, 2, "CC")}}
                                                     << QStringList{"3,1=AA F4 ", "3,2=CC "} << QString() << Cells{} << true;
        QTest::newRow("a code ending like a dump end") << Pieces{{20, Record(3, 1, "AAFD6666")}, {40, Record(3, 2, "CC")}}
                                                       << QStringList{"3,1=AA FD 66 66 ", "3,2=CC "} << QString() << Cells{} << true;
        QTest::newRow("stray bytes before any record") << Pieces{{40, Bytes("0102")}, {40, Record(1, 1, "11")}}
                                                       << QStringList{"1,1=11 "} << HexLine(Bytes("0102")) << Cells{} << false;
        QTest::newRow("a corrupted marker") << Pieces{{40, Record(1, 1, "11")}, {40, Bytes("74F70102CC")}}
                                            << QStringList{"1,1=11 "} << HexLine(Bytes("74F70102CC")) << Cells{{1, 1}} << false;
        QTest::newRow("a code holding an address") << Pieces{{20, Record(1, 1, "AAF4F70202BB")}, {20, Record(2, 2, "CC")}}
                                                   << QStringList{"1,1=AA ", "2,2=CC "} << QString() << Cells{{2, 2}} << true;
        QTest::newRow("records of a header and a title") << Pieces{{20, Record(1, 1, "11") + Record(0, 1, "22") + Record(3, 0, "33")}}
                                                         << QStringList{"1,1=11 "} << HexLine(Record(0, 1, "22")) + HexLine(Record(3, 0, "33"))
                                                         << Cells{{1, 1}} << false;
        QTest::newRow("a record past the table right behind one") << Pieces{{40, Record(1, 1, "1122") + Record(0x61, 3, "99")}}
                                                                  << QStringList{"1,1=11 22 "} << HexLine(Record(0x61, 3, "99")) << Cells{{1, 1}} << false;
        QTest::newRow("an address alone") << Pieces{{20, Bytes("F4F70302")}} << QStringList{} << HexLine(Bytes("F4F70302")) << Cells{} << false;
        QTest::newRow("a pause after the address") << Pieces{{20, Bytes("F4F70302")}, {40, Bytes("CC")}, {20, Record(3, 1, "DD")}}
                                                   << QStringList{"3,1=DD ", "3,2=CC "} << QString() << Cells{} << true;
        QTest::newRow("an echo and the dump start before any record") << Pieces{{20, kEnterEcho}, {20, kDumpStart}, {20, Record(1, 1, "11")}}
                                                                      << QStringList{"1,1=11 "} << kEnterLine + kStartLine << Cells{} << true;
        QTest::newRow("an echo among records") << Pieces{{20, Record(1, 1, "11") + kEnterEcho}} << QStringList{"1,1=11 "} << HexLine(kEnterEcho)
                                               << Cells{{1, 1}} << false;
        QTest::newRow("a record longer than the limit")
            << Pieces{{20, Record(5, 1, "") + QByteArray(kMaxHeldInDump, '\x11')}, {40, Record(6, 1, "22")}}
            << QStringList{QStringLiteral("5,1=") + QStringLiteral("11 ").repeated(kMaxHeldInDump - 4), "6,1=22 "}
            << HexLine(QByteArray(4, '\x11')) << Cells{{5, 1}} << false;
    }
    void dumpRecordsAreFramedByTheirStructure()
    {
        QFETCH(Pieces, pieces);
        QFETCH(QStringList, cells);
        QFETCH(QString, shown);
        QFETCH(QVector<CellPosition>, doubtful);
        QFETCH(bool, whole);
        Rig r;
        r.StartDump();
        r.Play(pieces + Pieces{{20, kDumpEnd}});
        QCOMPARE(r.Cells(), cells);
        const QString n = QString::number(doubtful.size());
        const QString warning = !whole ? (doubtful.isEmpty() ? QStringLiteral("数据中有无法识别的字节，") : QStringLiteral("有 %1 个代码可能有误，").arg(n))
                + QStringLiteral("空白的单元格%1可能漏了代码，请重新读取\r\n").arg(doubtful.isEmpty() ? "" : "也")
            : doubtful.isEmpty() ? QString() : QStringLiteral("有 %1 个代码可能有误，请重新读取\r\n").arg(n);
        QCOMPARE(r.Log(), kStartLine + shown + kEndLine + warning + DoubtNames(r.p.table, doubtful));
        for (const CellPosition& c : doubtful) QCOMPARE(r.p.table.GetCellMark(c.row, c.column).kind, CellMarkKind::Doubtful);
        QCOMPARE(r.events.last().kind, ModuleEvent::Kind::DumpEnded);
        QCOMPARE(r.events.last().doubtful, doubtful);
        QCOMPARE(r.Read().LastDump().doubtful.size(), doubtful.size());  // the dump handed over for confirming
        QCOMPARE(r.Read().LastDump().whole, whole);
        QVERIFY(r.Read().End() == ReadEnd::Complete);
        QVERIFY(r.Read().Held().bytes.isEmpty());
    }

    // A read told the codes it expects (ReadCannotBringBack) takes a record
    // bringing exactly its cell's code whole; any other is framed as ever.
    void expectedCodesComeBackWhole()
    {
        QVERIFY(ReadCannotBringBack(Bytes("11F4F7")) && !ReadCannotBringBack(kDumpStart.left(8) + Bytes("F4F6F7")));
        // A cell's text, however long, wherever what a read cannot frame stands
        // in it (read in pieces of about 4 KB: across one of their joins too).
        const QString echo = QString::fromLatin1(kEnterEcho.toHex(' '));
        for (int ones = 4080; ones <= 4120; ++ones) {
            const QString lead = QStringLiteral("11 ").repeated(ones);
            QVERIFY2(ReadCannotBringBack(QStringView(lead + echo)) && ReadCannotBringBack(QStringView(lead + "F 4F7")), qPrintable(QString::number(ones)));
            QVERIFY(!ReadCannotBringBack(QStringView(lead + echo.left(24) + " F4 F6 F7")));
        }
        const QByteArray address = Bytes("AAF4F70202BB"), end = Bytes("33") + kDumpEnd + kEnterEcho;
        for (const auto& [sent, cells] : {std::pair{address, QStringList{"1,1=" + BytesToHex(address), "1,2=CC "}},
                                          std::pair{address + Bytes("EE"), QStringList{"1,1=AA ", "1,2=CC ", "2,2=BB EE "}}}) {
            Rig r;
            EnableModuleButtons(r.p.ui);
            r.p.link.Read({}, ExpectedCodes{{TableLayout::CellKey(1, 1), address}, {TableLayout::CellKey(3, 1), end}});
            r.Play({{20, kDumpStart}, {20, Record(1, 1, "") + sent.left(6)}, {10, sent.mid(6)}, {20, Record(1, 2, "CC") + Record(3, 1, "") + end}, {20, kDumpEnd}});
            QCOMPARE(r.Cells(), cells + QStringList{"3,1=" + BytesToHex(end)});
            QVERIFY(r.Read().End() == ReadEnd::Complete && r.Read().LastDump().whole);
        }
    }

    // Bytes after the dump end spoil the dump: the dump end may have been bytes of the last record's code (a record
    // there doubtful too); a second dump end is no dump of its own; the exit echo spoils nothing. The dump is told after.
    void bytesJustAfterTheDumpEndSpoilIt()
    {
        const int first = TableLayout::CellKey(1, 1), second = TableLayout::CellKey(2, 1);
        for (const auto& [late, doubtful] : {std::pair{Record(2, 1, "22"), QVector<int>{first, second}}, {kExitEcho, {}},
                                             {Bytes("BB") + kDumpEnd, {first}}, {kDumpEnd, {first}}}) {
            Rig r;
            r.StartRead();
            r.Play({{20, kDumpStart}, {20, Record(1, 1, "11")}, {20, kDumpEnd}, {20, late}});
            QCOMPARE(r.Read().LastDump().whole, late == kExitEcho);
            QCOMPARE(r.Read().LastDump().doubtful, doubtful);
            QCOMPARE(r.events.last().kind == ModuleEvent::Kind::DumpEnded && r.events.last().doubtful.size() == doubtful.size(), true);
            QCOMPARE(r.Log().count(kEndLine), 1);
        }
    }

    void recordsFillTheirCellAndMoveTheBar_data()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<QString>("cell");
        QTest::addColumn<int>("position");
        QTest::newRow("switch 2 control off") << Record(3, 2, "112233") << "3,2=11 22 33 " << 2;
        QTest::newRow("switch 2 feedback on") << Record(4, 1, "AA") << "4,1=AA " << 34;
        QTest::newRow("scene 0 off") << Record(0x41, 2, "0A0B") << "65,2=0A 0B " << 65;
        QTest::newRow("scene 31 on") << Record(0x60, 1, "5C") << "96,1=5C " << 96;
        QTest::newRow("switch 32 feedback") << Record(64, 2, "00") << "64,2=00 " << 64;
    }
    void recordsFillTheirCellAndMoveTheBar()
    {
        QFETCH(QByteArray, record);
        QFETCH(QString, cell);
        QFETCH(int, position);
        Rig r;
        r.StartDump();
        r.Play({{20, record}, {20, kDumpEnd}});
        QCOMPARE(r.Cells(), QStringList{cell});
        QCOMPARE(r.ui.positionHistory, (QVector<int>{1, position, 0}));
        QCOMPARE(r.events.at(1).kind, ModuleEvent::Kind::Record);
        QCOMPARE(r.events.at(1).bytes, record.mid(4));
    }

    void recordSpreadOverTicksArrivesWhole_data()
    {
        QTest::addColumn<Pieces>("pieces");
        const QByteArray record = Record(5, 1, "A1A2A3A4A5A6A7A8A9AA");
        QTest::newRow("two") << Pieces{{10, record.left(6)}, {10, record.mid(6)}};
        QTest::newRow("three, marker cut") << Pieces{{10, record.left(1)}, {16, record.mid(1, 4)}, {16, record.mid(5)}};
        QTest::newRow("two, just under the quiet time apart") << Pieces{{10, record.left(7)}, {kQuietMs - 1, record.mid(7)}};
        Pieces single;
        for (char b : record) single << Piece{10, QByteArray(1, b)};
        QTest::newRow("one byte a tick") << single;
    }
    void recordSpreadOverTicksArrivesWhole()
    {
        QFETCH(Pieces, pieces);
        Rig r;
        r.StartDump();
        r.Play(pieces + Pieces{{10, kDumpEnd}});
        QCOMPARE(r.Cells(), QStringList{"5,1=A1 A2 A3 A4 A5 A6 A7 A8 A9 AA "});
        QCOMPARE(r.Log(), kStartLine + kEndLine);
    }

    void recordsOutsideADumpAreShownAndChangeNothing()
    {
        Rig r;
        r.Arrive(Record(3, 2, "112233"));
        r.Arrive(Record(1, 1, "11") + Record(1, 2, "22"));
        QCOMPARE(r.Log(), HexLine(Record(3, 2, "112233")) + HexLine(Record(1, 1, "11") + Record(1, 2, "22")));
        QCOMPARE(r.Cells(), QStringList{});
        QCOMPARE(r.ui.caretMoves, 2);
    }

    void dumpEndWithoutStartStillEnablesButtons()
    {
        Rig r;
        r.ui.SetPosition(Control::ProgressBar1, 40);
        // Judged in the very tick that takes its ninth byte, without waiting for quiet.
        r.port.ArriveAt(r.ui.clock + 5, kDumpEnd);
        r.ui.clock += 5;
        ReceiveTick(r.p.link);
        QCOMPARE(r.Log(), kEndLine);
        QCOMPARE(r.ui.GetPosition(Control::ProgressBar1), 0);
        QVERIFY(r.ButtonsEnabled());
        QVERIFY(!r.events.last().dumpStarted);
    }

    void dumpEndDuringAnOperationLeavesTheButtonsToIt()
    {
        Rig r;
        EnableModuleButtons(r.p.ui);
        bool ended = false, held = true;
        r.ui.onDeliver = [&] {
            if (ended) return;
            ended = true;
            r.StartDump();
            r.Arrive(kDumpEnd);
            ended = !r.Read().Dumping() && r.Log().endsWith(kEndLine);
            held = r.ModuleButtonsDisabled();
        };
        ClearModule(r.p.Modules());  // the dump comes and goes in its first pause
        QVERIFY(ended);
        QVERIFY(held);
        QVERIFY(r.ButtonsEnabled());  // given back when the clear ends
    }

    void nothingIsReadOrLoggedOnceThePortIsClosed()
    {
        Rig r;
        r.port.ArriveAt(r.ui.clock, Bytes("F4F7"));
        r.Tick();  // half an answer held
        r.p.link.Close();
        r.Forget();
        r.port.ArriveAt(r.ui.clock, kEnterEcho);
        for (int i = 0; i < 5; ++i) r.Tick();
        QCOMPARE(r.port.calls, QStringList());
        QVERIFY(r.Read().Held().bytes.isEmpty());
        QCOMPARE(r.Log(), QString());

        // Reopened: the half answer from before is gone, not glued to the next one.
        r.port.line.clear();
        r.p.link.Open(3, 9600, QStringLiteral("COM3"));
        r.Forget();
        r.Arrive(Bytes("AABB"));
        QCOMPARE(r.Log(), HexLine(Bytes("AABB")));
    }

    // Outside a dump, what is no fixed answer ends where the line went quiet
    // for 30 ms between two arrivals, whenever the ticks took the bytes.
    void quietBetweenArrivalsEndsOtherAnswers()
    {
        Rig r;
        r.port.ArriveAt(r.ui.clock + 2, Bytes("0102"));
        r.port.ArriveAt(r.ui.clock + 18, Bytes("03"));
        r.port.ArriveAt(r.ui.clock + 60, Bytes("04"));
        r.ui.clock += 65;  // one late tick takes all three
        ReceiveTick(r.p.link);
        QCOMPARE(r.Log(), HexLine(Bytes("010203")));
        QCOMPARE(r.Read().Held().bytes, Bytes("04"));
        r.ui.clock += kQuietMs - 6;
        ReceiveTick(r.p.link);
        QCOMPARE(r.Read().Held().bytes, Bytes("04"));
        r.ui.clock += 1;
        ReceiveTick(r.p.link);
        QCOMPARE(r.Log(), HexLine(Bytes("010203")) + HexLine(Bytes("04")));
        // Half a fixed answer waits for its rest no longer than a read waits: then it is shown.
        r.Arrive(kEnterEcho.left(5));
        const quint32 from = r.ui.clock;
        while (!r.Read().Held().bytes.isEmpty()) r.Tick();
        QVERIFY(r.ui.clock - from > quint32(kNoAnswerMs) - 100 && r.ui.clock - from < quint32(kNoAnswerMs) && r.Log().endsWith(HexLine(kEnterEcho.left(5))));
    }

    void noiseIsLoggedInLinesOfBoundedLength()
    {
        Rig r;
        QByteArray noise;
        for (int i = 0; i < 10000; ++i) noise += char(0x30 + i % 64);
        r.Arrive(noise);
        QStringList lines = r.Log().split(QStringLiteral("\r\n"));
        QCOMPARE(lines.takeLast(), QString());
        QCOMPARE(lines.size(), 3);
        for (const QString& line : lines) QVERIFY(line.size() <= 3 * kMaxHeldOutsideDump);
        QCOMPARE(QByteArray::fromHex(lines.join(QString()).toLatin1()), noise);
        QVERIFY(r.Read().Held().bytes.isEmpty());
    }

    // A read that does not complete gives the table back as it was before
    // the read, and says so in one line.
    void anUnfinishedReadGivesTheTableBack_data()
    {
        QTest::addColumn<Pieces>("pieces");
        QTest::addColumn<bool>("portLost");
        QTest::addColumn<int>("end");
        QTest::addColumn<QString>("log");
        const QString unanswered = QStringLiteral("模块无应答\r\n请检查 波特率: 是否与模块一致、端口是否选对、模块是否通电\r\n");
        QTest::newRow("no answer") << Pieces{} << false << int(ReadEnd::NoAnswer) << unanswered;
        QTest::newRow("a dump end only") << Pieces{{30, kDumpEnd}} << false << int(ReadEnd::NoDump) << kEndLine;
        QTest::newRow("records without a dump start")
            << Pieces{{30, Record(1, 1, "11")}, {30, kDumpEnd}} << false << int(ReadEnd::NoDump) << HexLine(Record(1, 1, "11")) + kEndLine;
        QTest::newRow("stopped halfway") << Pieces{{30, kDumpStart}, {30, Record(1, 1, "11")}, {30, Record(1, 2, "22")}}
                                         << false << int(ReadEnd::NoAnswer) << kStartLine + unanswered;
        QTest::newRow("the port lost halfway") << Pieces{{30, kDumpStart}, {30, Record(1, 1, "11")}, {30, Record(1, 2, "22")}}
                                               << true << int(ReadEnd::PortLost) << kStartLine + QStringLiteral("端口已断开: COM3\r\n端口已关闭\r\n");
    }
    void anUnfinishedReadGivesTheTableBack()
    {
        QFETCH(Pieces, pieces);
        QFETCH(bool, portLost);
        QFETCH(int, end);
        QFETCH(QString, log);
        Rig r;
        r.StartRead();
        QCOMPARE(r.Cells(), QStringList{});
        const QString before = r.Log();
        r.Play(pieces);
        r.port.deviceGone = portLost;
        while (r.Read().End() == ReadEnd::Running && r.ui.clock < 10000) r.Tick();
        QCOMPARE(int(r.Read().End()), end);
        QVERIFY(r.TableIsOld());
        QCOMPARE(r.Log().mid(before.size()), log + kGivenBackLine);
        QCOMPARE(r.ui.GetPosition(Control::ProgressBar1), 0);
        QCOMPARE(r.ButtonsEnabled(), !portLost);
    }

    // The deadline counts from the last record or known answer: stray bytes
    // every half second do not keep a read alive, and memory stays bounded.
    void strayBytesDoNotKeepAReadAlive()
    {
        Rig r;
        r.StartRead();
        const quint32 lastRecord = r.ui.clock + 90;
        r.Play({{30, kDumpStart}, {30, Record(1, 1, "11")}, {30, Record(1, 2, "22")}});
        while (r.Read().End() == ReadEnd::Running) {
            r.port.ArriveAt(r.ui.clock, QByteArray(4000, '\x5A'));
            for (int i = 0; i < 50; ++i) r.Tick();
            QVERIFY(r.Read().Held().bytes.size() <= kMaxHeldInDump);
        }
        QVERIFY(r.ui.clock - lastRecord >= quint32(kNoAnswerMs) && r.ui.clock - lastRecord < 4000);
        QVERIFY(r.Read().End() == ReadEnd::NoAnswer);
        QVERIFY(r.TableIsOld());
    }

    // Records that still come after the read went unanswered resume it, until
    // the next module operation; the dump end then completes it.
    void aLateDumpResumesTheReadUntilTheNextOperation()
    {
        Rig r;
        // A slow dump: every answer past the deadline, every cell filled all the same.
        r.StartRead();
        r.Play({{3400, kDumpStart}, {3400, Record(1, 1, "11")}, {3400, Record(1, 2, "22")}, {3400, Record(2, 1, "33")}, {3400, kDumpEnd}});
        QCOMPARE(r.Cells(), (QStringList{"1,1=11 ", "1,2=22 ", "2,1=33 "}));
        QVERIFY(r.Read().End() == ReadEnd::Complete);
        QVERIFY(r.Log().endsWith(QStringLiteral("模块继续发送数据\r\n") + kEndLine));

        r.StartRead();
        r.Play({{30, kDumpStart}, {30, Record(1, 1, "11")}, {30, Record(1, 2, "22")}});
        r.ui.clock += 3400;
        r.Tick();
        QVERIFY(r.Read().End() == ReadEnd::NoAnswer);
        QVERIFY(r.TableIsOld());
        QVERIFY(r.ButtonsEnabled());

        r.Play({{1, Record(2, 1, "33")}, {20, kDumpEnd}});
        QCOMPARE(r.Cells(), (QStringList{"1,1=11 ", "1,2=22 ", "2,1=33 "}));
        QVERIFY(r.Read().End() == ReadEnd::Complete);
        QVERIFY(r.Log().endsWith(QStringLiteral("模块继续发送数据\r\n") + kEndLine));
        QVERIFY(r.ButtonsEnabled());

        // Given back again, and then another operation begins: late records
        // are only shown. What was held was placed when the read gave up (a
        // code whose end might begin an address doubtful), never shown later.
        r.StartRead();
        r.Play({{30, kDumpStart}, {30, Record(1, 1, "11F4")}});
        r.ui.clock += 3400;
        r.Tick();
        QVERIFY(r.TableIsOld() && r.Read().LastDump().doubtful == QVector<int>{TableLayout::CellKey(1, 1)});
        ClearModule(r.p.Modules());
        r.Play({{1, Record(2, 1, "33")}, {20, kDumpEnd}});
        QVERIFY(r.TableIsOld() && !r.Log().contains(QStringLiteral("F4 F7 01 01")));
        QVERIFY(r.Log().endsWith(HexLine(Record(2, 1, "33")) + kEndLine));
    }

    // A file opened once a read went unanswered takes nothing of that read:
    // neither its late records nor its giving back.
    void aTableOpenedAfterAReadTakesNothingOfIt()
    {
        QTemporaryDir dir;
        ConfigTable file;
        InitTable(file);
        file.SetCellText(5, 1, QStringLiteral("NEW"));
        QVERIFY(file.SaveTable(dir.filePath(QStringLiteral("other.dat"))));
        Rig r;
        r.StartRead();
        r.Play({{30, kDumpStart}, {30, Record(1, 1, "11")}});
        r.ui.clock += 3400;
        r.Tick();
        r.ui.dialogAnswers = {dir.filePath(QStringLiteral("other.dat"))};
        MakeWindowHandlers(r.p).openFileClicked();
        r.Play({{1, Record(2, 1, "33")}, {20, kDumpEnd}});
        r.p.link.Close();
        QCOMPARE(r.Cells(), QStringList{"5,1=NEW"});
    }

    // Progress keeps a read alive, not any byte: the dump start, then a record
    // of a cell new to the dump, at most 3 s apart.
    void aReadEndsWhenProgressStops_data()
    {
        QTest::addColumn<Pieces>("pieces");  // from the request on
        QTest::addColumn<int>("endsAfter");  // ms after the request it ends unanswered; 0: it completes
        const Pieces started{{30, kDumpStart}, {30, Record(1, 1, "11")}};
        QTest::newRow("the enter echo every 2 s") << Pieces(4, Piece{2000, kEnterEcho}) << kNoAnswerMs;
        QTest::newRow("one record again and again") << started + Pieces(12, Piece{500, Record(1, 1, "11")}) << 60 + kNoAnswerMs;
        QTest::newRow("stray bytes every 500 ms") << started + Pieces(12, Piece{500, Bytes("0102")}) << 60 + kNoAnswerMs;
        QTest::newRow("new records 2.9 s apart") << Pieces{{2900, kDumpStart}, {2900, Record(1, 1, "11")}, {2900, Record(1, 2, "22")}, {2900, kDumpEnd}} << 0;
    }
    void aReadEndsWhenProgressStops()
    {
        QFETCH(Pieces, pieces);
        QFETCH(int, endsAfter);
        Rig r;
        r.StartRead();
        const quint32 request = r.port.writes.last().at;
        r.Play(pieces);
        while (r.Read().End() == ReadEnd::Running) r.Tick();
        QCOMPARE(int(r.Read().End()), int(endsAfter ? ReadEnd::NoAnswer : ReadEnd::Complete));
        if (endsAfter) QVERIFY(r.unansweredAt - request >= quint32(endsAfter) && r.unansweredAt - request < quint32(endsAfter) + 50);
    }

    void silentModuleEndsTheReadWithinFourSeconds()
    {
        Rig r;
        EnableModuleButtons(r.p.ui);
        ReadModule(r.p.Modules());
        const quint32 requestAt = r.port.writes.last().at;
        QCOMPARE(FakeSerialProvider::Spaced(r.port.writes.last().bytes), QStringLiteral("FD 66 66 66 66 AA AB DD BF"));
        while (r.Read().End() == ReadEnd::Running && r.ui.clock - requestAt < 5000) r.Tick();
        QVERIFY(r.ui.clock - requestAt >= quint32(kNoAnswerMs));
        QVERIFY(r.ui.clock - requestAt < 4000);
        QVERIFY(r.Read().End() == ReadEnd::NoAnswer);
        QVERIFY(r.ButtonsEnabled());
        QVERIFY(r.p.link.IsOpen());
        r.Tick();
        QCOMPARE(r.ui.GetInterval(Control::Timer_ReceiveData), kIdleTickMs);
    }

    void timerRestsWhileNothingIsUnderWay()
    {
        Rig r;
        r.Tick();
        QCOMPARE(r.ui.GetInterval(Control::Timer_ReceiveData), kIdleTickMs);
        r.port.ArriveAt(r.ui.clock, Bytes("0102"));
        r.Tick();
        QCOMPARE(r.ui.GetInterval(Control::Timer_ReceiveData), kReceiveTickMs);
        r.Quiet();
        QCOMPARE(r.ui.GetInterval(Control::Timer_ReceiveData), kIdleTickMs);
        EnableModuleButtons(r.p.ui);
        ReadModule(r.p.Modules());
        r.Tick();
        QCOMPARE(r.ui.GetInterval(Control::Timer_ReceiveData), kReceiveTickMs);
    }

    // However many ticks its records take, a read is undone as a whole, and
    // a dump the module starts by itself too.
    void aReadIsOneUndoStep()
    {
        Rig r;
        r.table.SetCellText(1, 1, QStringLiteral("EE"));
        r.table.SetCellText(96, 2, QStringLiteral("FF"));
        EnableModuleButtons(r.p.ui);
        ReadModule(r.p.Modules());
        r.StartDump();
        r.Arrive(Record(1, 1, "11"));
        r.Arrive(Record(2, 2, "22"));
        QVERIFY(!r.table.History().CanUndo());  // still coming
        r.Arrive(kDumpEnd);
        r.StartDump();
        r.Arrive(Record(1, 1, "33"));
        r.Arrive(kDumpEnd);
        // A read that never ends gives the table back, and leaves nothing to undo.
        ReadModule(r.p.Modules());
        r.StartDump();
        r.Arrive(Record(3, 1, "44"));
        while (r.Read().End() == ReadEnd::Running) r.Tick();
        QCOMPARE(r.table.GetCellText(3, 1), QString());
        QCOMPARE(r.table.GetCellText(1, 1), QStringLiteral("33 "));

        QVERIFY(r.table.History().Undo());
        QCOMPARE(r.table.GetCellText(1, 1), QStringLiteral("11 "));
        QVERIFY(r.table.History().Undo());
        QCOMPARE(r.table.GetCellText(1, 1), QStringLiteral("EE"));
        QCOMPARE(r.table.GetCellText(2, 2), QString());
        QCOMPARE(r.table.GetCellText(96, 2), QStringLiteral("FF"));
        QVERIFY(r.table.History().Redo());
        QCOMPARE(r.table.GetCellText(2, 2), QStringLiteral("22 "));
        QCOMPARE(r.table.GetCellText(96, 2), QString());
    }

};

QTEST_GUILESS_MAIN(ReceiveTickTest)
#include "test_receive.moc"
