#include "ModuleSim.h"

#include "protocol/Frames.h"
#include "protocol/HexCodec.h"

namespace {

QString Hex(const QByteArray& bytes) { return BytesToHex(bytes).trimmed(); }

using FrameLayout::kBaudLead;
using FrameLayout::kLearnLead;
const QByteArray& kRecordLead = FrameLayout::kRecordMarker;

int BlockOf(const QByteArray& frame, bool begin)
{
    for (int b = 1; b <= 3; ++b)
        if (frame == FixedFrameBytes(begin ? BlockBeginFrame(b) : BlockEndFrame(b))) return b;
    return 0;
}

}  // namespace

ModuleSim::ModuleSim(SimLine& line, ModuleMemory& memory, const SimOptions& options, QTextStream& out)
    : line_(line), memory_(memory), options_(options), out_(out), plan_(options)
{
    stray_.setInterval(qMax(1, options_.strayEveryMs));
    connect(&stray_, &QTimer::timeout, this, [this] { line_.Send({plan_.Stray(), 0, QStringLiteral("stray"), false}); });
    again_.setInterval(qMax(1, options_.repeatEchoMs > 0 ? options_.repeatEchoMs : options_.paceMs));
    connect(&again_, &QTimer::timeout, this, [this] {
        if (repeated_.isEmpty()) return;
        Send({{repeated_.at(nextRepeated_++ % repeated_.size()), 0, QStringLiteral("again"), false}});
    });
    quiet_.setSingleShot(true);
    quiet_.setTimerType(Qt::PreciseTimer);
    quiet_.setInterval(options_.quietGapMs);
    connect(&quiet_, &QTimer::timeout, this, [this] {
        const QByteArray frame = reader_.Flush();
        if (!frame.isEmpty()) OnFrame(frame);
    });
    connect(&line_, &SimLine::received, this, &ModuleSim::OnBytes);
    connect(&line_, &SimLine::sent, this, [this](const QString& note, qint64 atUs) {
        // Monotonic microseconds, the clock every process on the machine shares.
        Print(QStringLiteral("sent %1 t=%2").arg(note).arg(atUs));
        if (options_.strayEveryMs > 0 && note.startsWith(QStringLiteral("dump-"))) stray_.start();
        if (options_.repeatRecords && note == QStringLiteral("dump-stopped")) again_.start();
    });
    connect(&line_, &SimLine::hungUp, this, [this] { Print(QStringLiteral("hung up")); });
    connect(&line_, &SimLine::lineBack, this, [this](const QString& path) {
        configMode_ = false;
        block_ = 0;
        Print(QStringLiteral("line back on %1").arg(path));
    });
}

void ModuleSim::Print(const QString& line)
{
    out_ << line << '\n';
    out_.flush();
}

void ModuleSim::OnBytes(const QByteArray& bytes)
{
    // A line that sends back what it hears: with no module behind it, nothing else happens.
    if (options_.loopback || options_.hearOwn) line_.Send({bytes, 0, QString(), false});
    if (options_.loopback) return;
    // Sent at the line's rate, heard at the module's.
    for (const QByteArray& frame : reader_.Feed(SimLine::AsHeardAt(bytes, line_.FarEndRate(), line_.Rate()))) OnFrame(frame);
    if (reader_.HasPending()) quiet_.start();
    else quiet_.stop();
}

// The module's answers, sent at its rate and heard at the line's.
void ModuleSim::Send(const QList<SimLine::Piece>& pieces)
{
    for (SimLine::Piece piece : pieces) {
        piece.bytes = SimLine::AsHeardAt(piece.bytes, line_.Rate(), line_.FarEndRate());
        line_.Send(piece);
    }
}

void ModuleSim::OnFrame(const QByteArray& frame)
{
    const QString hex = Hex(frame);
    stray_.stop();  // a frame from the program quiets the line
    again_.stop();
    if (++framesHeard_ == options_.hangUpAtFrame) {
        // Once: the frame goes down with the line, unanswered and not acted on.
        options_.hangUpAtFrame = -1;
        Print(QStringLiteral("hang up at frame %1 ").arg(framesHeard_) + hex);
        line_.Send({QByteArray(), 0, QString(), true});
        return;
    }
    QString rate;
    const int farEnd = line_.FarEndRate();
    if (farEnd > 0 && farEnd != line_.Rate())
        rate = QStringLiteral(" (line at %1, module at %2)").arg(farEnd).arg(line_.Rate());

    if (frame == FixedFrameBytes(EnterConfigFrame)) {
        Print(QStringLiteral("recv enter ") + hex + rate);
        configMode_ = true;
        Send(plan_.Echo(frame));
    } else if (frame == FixedFrameBytes(ExitConfigFrame)) {
        Print(QStringLiteral("recv exit ") + hex + rate);
        configMode_ = false;
        block_ = 0;
        Send(plan_.Echo(frame));
    } else if (frame == FixedFrameBytes(ReadRequestFrame)) {
        Print(QStringLiteral("recv read ") + hex + rate);
        const QList<StoredCode> codes = memory_.DumpOrder();
        repeated_.clear();
        nextRepeated_ = 0;
        if (options_.repeatEchoMs > 0) {
            Print(QStringLiteral("no dump: the enter echo every %1 ms").arg(options_.repeatEchoMs));
            repeated_ << FixedFrameBytes(EnterConfigFrame);
            again_.start();
            return;
        }
        Print(QStringLiteral("dump %1 records").arg(codes.size()));
        for (const StoredCode& c : codes) repeated_ << AnswerPlan::Record(c);
        Send(plan_.Dump(codes));
    } else if (frame == FixedFrameBytes(ClearRequestFrame)) {
        Print(QStringLiteral("recv clear ") + hex + rate);
        memory_.Erase();
        SaveMemory();
        Print(QStringLiteral("erased"));
    } else if (frame.size() == FrameLayout::kFixedSize && frame.startsWith(kBaudLead)
               && quint8(frame[FrameLayout::kFixedSize - 1]) == FrameLayout::kEndByte) {
        const int newRate = (quint8(frame[5]) << 16) | (quint8(frame[6]) << 8) | quint8(frame[7]);
        Print(QStringLiteral("recv baud %1 ").arg(newRate) + hex + rate);
        line_.SetRate(newRate);
        // A module keeps its rate: a restarted simulator is still at it.
        memory_.rate = newRate;
        SaveMemory();
    } else if (const int b = BlockOf(frame, true)) {
        Print(QStringLiteral("recv block-begin %1 ").arg(b) + hex + rate);
        block_ = b;
    } else if (const int e = BlockOf(frame, false)) {
        Print(QStringLiteral("recv block-end %1 ").arg(e) + hex + rate);
        block_ = 0;
    } else if (frame.size() > FrameLayout::kRecordHeaderSize && frame.startsWith(kRecordLead)) {
        StoreRecord(frame, hex);
    } else if (frame.size() > kLearnLead.size() && frame.startsWith(kLearnLead)) {
        Print(QStringLiteral("recv learn %1 : ").arg(Hex(frame.mid(kLearnLead.size()))) + hex + rate);
    } else {
        Print(QStringLiteral("recv unknown ") + hex + rate);
    }
}

void ModuleSim::StoreRecord(const QByteArray& frame, const QString& hex)
{
    const int slot = quint8(frame[FrameLayout::kRecordHeaderSize - 1]);
    const MemoryCell cell = SlotCell(block_, slot);
    if (!configMode_ || cell.row == 0) {
        Print(QStringLiteral("recv record ignored (block %1 slot %2%3) : ")
                  .arg(block_)
                  .arg(slot)
                  .arg(configMode_ ? QString() : QStringLiteral(", not in configuration mode"))
              + hex);
        return;
    }
    const QByteArray code = frame.mid(FrameLayout::kRecordHeaderSize);
    memory_.Store(cell, code);
    SaveMemory();
    Print(QStringLiteral("recv record block %1 slot %2 row %3 column %4 code %5 : ")
              .arg(block_)
              .arg(slot)
              .arg(cell.row)
              .arg(cell.column)
              .arg(Hex(code))
          + hex);
}

void ModuleSim::SaveMemory()
{
    QString error;
    if (!memory_.Save(&error)) Print(QStringLiteral("memory not saved: ") + error);
}
