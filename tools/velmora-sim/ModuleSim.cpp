#include "ModuleSim.h"

#include <QRandomGenerator>

#include "protocol/Frames.h"
#include "protocol/HexCodec.h"

namespace {

QString Hex(const QByteArray& bytes) { return BytesToHex(bytes).trimmed(); }

const QByteArray kBaudLead = QByteArray::fromHex("FD666666DF");
const QByteArray kRecordLead = QByteArray::fromHex("F7F4");
const QByteArray kLearnLead = QByteArray::fromHex("FD4952");
const QByteArray kAnswerLead = QByteArray::fromHex("F4F7");

int BlockOf(const QByteArray& frame, bool begin)
{
    for (int b = 1; b <= 3; ++b)
        if (frame == FixedFrameBytes(begin ? BlockBeginFrame(b) : BlockEndFrame(b))) return b;
    return 0;
}

// Noise that cannot be mistaken for an answer of the module: it never
// starts like a control frame or a record.
QByteArray Noise(int count)
{
    static QRandomGenerator random(20261207);
    QByteArray bytes(count, '\0');
    for (char& b : bytes) b = char(random.bounded(256));
    if (count > 0 && (quint8(bytes[0]) == 0xF4 || quint8(bytes[0]) == 0xFD)) bytes[0] = 0x00;
    return bytes;
}

}  // namespace

ModuleSim::ModuleSim(SimLine& line, ModuleMemory& memory, const SimOptions& options, QTextStream& out)
    : line_(line), memory_(memory), options_(options), out_(out)
{
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
    for (const QByteArray& frame : reader_.Feed(bytes)) OnFrame(frame);
    if (reader_.HasPending()) quiet_.start();
    else quiet_.stop();
}

void ModuleSim::Answer(const QByteArray& bytes, int gapMs, const QString& note)
{
    if (options_.noise > 0) {
        line_.Send({Noise(options_.noise), gapMs, QString(), false});
        gapMs = qMax(gapMs, options_.paceMs);
    }
    const int pieces = qBound(1, options_.pieces, int(bytes.size()));
    const qsizetype step = (bytes.size() + pieces - 1) / pieces;
    for (qsizetype at = 0; at < bytes.size(); at += step) {
        const bool last = at + step >= bytes.size();
        line_.Send({bytes.mid(at, step), at == 0 ? gapMs : options_.pieceGapMs, last ? note : QString(), false});
    }
}

void ModuleSim::OnFrame(const QByteArray& frame)
{
    const QString hex = Hex(frame);
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
        Answer(frame, 0);
    } else if (frame == FixedFrameBytes(ExitConfigFrame)) {
        Print(QStringLiteral("recv exit ") + hex + rate);
        configMode_ = false;
        block_ = 0;
        Answer(frame, 0);
    } else if (frame == FixedFrameBytes(ReadRequestFrame)) {
        Print(QStringLiteral("recv read ") + hex + rate);
        SendDump();
    } else if (frame == FixedFrameBytes(ClearRequestFrame)) {
        Print(QStringLiteral("recv clear ") + hex + rate);
        memory_.Erase();
        SaveMemory();
        Print(QStringLiteral("erased"));
    } else if (frame.size() == 9 && frame.startsWith(kBaudLead) && quint8(frame[8]) == 0xBF) {
        const int newRate = (quint8(frame[5]) << 16) | (quint8(frame[6]) << 8) | quint8(frame[7]);
        Print(QStringLiteral("recv baud %1 ").arg(newRate) + hex + rate);
        line_.SetRate(newRate);
    } else if (const int b = BlockOf(frame, true)) {
        Print(QStringLiteral("recv block-begin %1 ").arg(b) + hex + rate);
        block_ = b;
    } else if (const int e = BlockOf(frame, false)) {
        Print(QStringLiteral("recv block-end %1 ").arg(e) + hex + rate);
        block_ = 0;
    } else if (frame.size() >= 4 && frame.startsWith(kRecordLead)) {
        StoreRecord(frame, hex);
    } else if (frame.size() >= 4 && frame.startsWith(kLearnLead)) {
        Print(QStringLiteral("recv learn %1 : ").arg(Hex(frame.mid(3))) + hex + rate);
    } else {
        Print(QStringLiteral("recv unknown ") + hex + rate);
    }
}

void ModuleSim::StoreRecord(const QByteArray& frame, const QString& hex)
{
    const int slot = quint8(frame[2]);
    const MemoryCell cell = SlotCell(block_, slot);
    if (!configMode_ || cell.row == 0) {
        Print(QStringLiteral("recv record ignored (block %1 slot %2%3) : ")
                  .arg(block_)
                  .arg(slot)
                  .arg(configMode_ ? QString() : QStringLiteral(", not in configuration mode"))
              + hex);
        return;
    }
    memory_.Store(cell, frame.mid(3));
    SaveMemory();
    Print(QStringLiteral("recv record block %1 slot %2 row %3 column %4 code %5 : ")
              .arg(block_)
              .arg(slot)
              .arg(cell.row)
              .arg(cell.column)
              .arg(Hex(frame.mid(3)))
          + hex);
}

void ModuleSim::SendDump()
{
    const QList<StoredCode> codes = memory_.DumpOrder();
    QList<QByteArray> records;
    for (const StoredCode& c : codes)
        records << kAnswerLead + QByteArray(1, char(c.row)) + QByteArray(1, char(c.column)) + c.code;
    const QByteArray start = FixedFrameBytes(ReadRequestFrame);
    const QByteArray end = FixedFrameBytes(DumpEndFrame);
    Print(QStringLiteral("dump %1 records").arg(records.size()));

    if (options_.backToBack) {
        QByteArray all = start;
        for (const QByteArray& r : records) all += r;
        all += end;
        line_.Send({all, options_.paceMs, QStringLiteral("dump-end"), false});
        return;
    }
    Answer(start, options_.paceMs);
    for (int i = 0; i < records.size(); ++i) {
        if (i == options_.hangUpAfter) {
            options_.hangUpAfter = -1;  // once: the next read gets the whole dump
            line_.Send({QByteArray(), options_.paceMs, QString(), true});
            return;
        }
        Answer(records.at(i), options_.paceMs);
    }
    Answer(end, options_.paceMs, QStringLiteral("dump-end"));
}

void ModuleSim::SaveMemory()
{
    QString error;
    if (!memory_.Save(&error)) Print(QStringLiteral("memory not saved: ") + error);
}
