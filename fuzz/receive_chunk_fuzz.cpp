// libFuzzer target for the judging of the module's answers: the framing, and
// the read of the module as the window's receive tick drives it.
// Input: first byte bit 0 = a dump is running; the rest is cut into reads,
// each a length byte and that many bytes (length 0 = a tick that reads nothing).

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "app/ModuleHandlers.h"
#include "app/WindowProgram.h"
#include "config/ConfigTable.h"
#include "app/Program.h"
#include "protocol/AnswerFraming.h"
#include "protocol/Frames.h"
#include "protocol/ModuleLink.h"
#include "serial/SerialLibrary.h"
#include "tests/support/FakeSerialProvider.h"
#include "tests/support/FakeUiServices.h"

namespace {

// Aborts, naming the line of the promise that was broken.
void Check(bool ok, int line = __builtin_LINE())
{
    if (ok) return;
    std::fprintf(stderr, "receive_chunk_fuzz.cpp:%d: check failed\n", line);
    std::abort();
}

// The bytes an answer stands for, rebuilt from what the program would show or store.
QByteArray BytesOf(const Answer& a)
{
    switch (a.kind) {
    case Answer::Kind::EnterEcho: return FixedFrameBytes(EnterConfigFrame);
    case Answer::Kind::ExitEcho: return FixedFrameBytes(ExitConfigFrame);
    case Answer::Kind::DumpStart: return FixedFrameBytes(ReadRequestFrame);
    case Answer::Kind::DumpEnd: return FixedFrameBytes(DumpEndFrame);
    case Answer::Kind::Record:
        return QByteArray::fromHex("F4F7") + QByteArray(1, char(a.row)) + QByteArray(1, char(a.column)) + a.bytes;
    case Answer::Kind::Unrecognised: return a.bytes;
    }
    return {};
}

bool IsLogLine(const QString& line)
{
    static const QStringList words = {QStringLiteral("模块进入配置模式"), QStringLiteral("模块退出配置模式"),
                                      QStringLiteral("开始从模块提取数据"), QStringLiteral("数据提取完成"),
                                      QStringLiteral("读取未完成，配置表已恢复为读取前的内容"), QStringLiteral("模块无应答"),
                                      QStringLiteral("模块继续发送数据"),
                                      QStringLiteral("请检查 波特率: 是否与模块一致、端口是否选对、模块是否通电"),
                                      QStringLiteral("数据中有无法识别的字节，空白的单元格可能漏了代码，请重新读取")};
    // "有 N 个代码可能有误，…请重新读取", with or without the words on empty cells.
    if (line.startsWith(QStringLiteral("有 ")) && line.contains(QStringLiteral(" 个代码可能有误，")) &&
        line.endsWith(QStringLiteral("请重新读取")))
        return true;
    if (words.contains(line)) return true;
    // Hex: "XX " repeated, at least once.
    if (line.isEmpty() || line.size() % 3 != 0) return false;
    for (qsizetype i = 0; i < line.size(); i += 3)
        if (!isxdigit(line.at(i).unicode()) || !isxdigit(line.at(i + 1).unicode()) || line.at(i + 2) != QLatin1Char(' '))
            return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    const bool extracting = data[0] & 1;

    // Judging: every held byte comes back in exactly one answer, in order,
    // and a record only ever names a value cell.
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    if (!bytes.isEmpty()) {
        HeldBytes held{.bytes = bytes};
        QByteArray rebuilt;
        bool dump = extracting;
        for (Cut cut; (cut = FrontAnswer(held, dump, HeldEnd::Gone)).length > 0;) {
            Check(cut.length <= held.bytes.size());
            const Answer a = Judge(held.bytes.left(cut.length), dump, cut.doubtful);
            held.bytes.remove(0, cut.length);
            held.scannedTo = 1;
            rebuilt += BytesOf(a);
            if (a.kind == Answer::Kind::DumpStart) dump = true;
            if (a.kind == Answer::Kind::DumpEnd) dump = false;
            if (a.kind == Answer::Kind::Record) {
                Check(a.row >= 1 && a.row <= 96 && a.column >= 1 && a.column <= 2 && (a.doubtful || !a.bytes.isEmpty()));
                Check(RecordPosition(a.row) >= 1 && RecordPosition(a.row) <= 96);
            }
        }
        Check(rebuilt == bytes && held.bytes.isEmpty());
    }

    // Ticking: the same bytes cut into reads never touch the layout, leave
    // nothing held once quiet, and log only whole lines the program knows.
    FakeUiServices ui;
    FakeSerialProvider serial(&ui);
    SerialLibrary library(FatalReportTo(ui), {&serial});
    ConfigTable table;
    InitTable(table);
    WindowProgram window(ui, library, table);
    Program& p = window.program;
    p.link.Open(3, 9600, QStringLiteral("COM3"));
    ui.texts.remove(Control::Edit_Display);
    if (extracting) {
        serial.incoming.push_back(FixedFrameBytes(ReadRequestFrame));  // the module begins a dump
        ReceiveTick(p.link);
        ui.texts.remove(Control::Edit_Display);
    }
    for (size_t at = 1; at < size;) {
        const size_t len = qMin<size_t>(data[at], size - at - 1);
        serial.incoming.push_back(QByteArray(reinterpret_cast<const char*>(data + at + 1), qsizetype(len)));
        at += 1 + len;
        ui.clock += 10;  // the receive timer's interval
        ReceiveTick(p.link);
    }
    for (int quiet = 0; quiet <= kQuietMs; quiet += 10) {
        ui.clock += 10;
        ReceiveTick(p.link);
    }
    // The start of a fixed answer waits for its rest as long as a read waits.
    ui.clock += kNoAnswerMs;
    ReceiveTick(p.link);
    // In a dump a record waits for the next answer; outside one nothing is held by then.
    Check(p.link.Reading().Dumping() || p.link.Reading().Held().bytes.isEmpty());
    Check(table.GetCellText(0, 1) == QStringLiteral("开") && table.GetCellText(0, 2) == QStringLiteral("关"));
    Check(table.GetCellText(1, 0) == QStringLiteral("开关01控制") && table.GetCellText(96, 0) == QStringLiteral("场景31"));
    const QString log = ui.Log();
    Check(log.isEmpty() || log.endsWith(QStringLiteral("\r\n")));
    QStringList lines = log.split(QStringLiteral("\r\n"));
    lines.removeLast();
    for (const QString& line : lines) Check(IsLogLine(line));
    return 0;
}
