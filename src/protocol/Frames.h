#pragma once
// The frames the program writes to the module and the module's answers,
// and the pause after each frame. Frames are hex text; they become bytes only
// when they are sent, so a frame reads here the way it goes on the wire.

#include <QByteArray>
#include <QString>

// --- the catalogue: what every frame and answer is made of ----------------------
// Shared by the program and the module simulator. Nine bytes make a control
// frame (FD 66 66 66 66, a three-byte command, BF), the baud frame (FD 66 66
// 66 DF, the rate in three bytes, BF) and each of the module's four fixed
// answers. A code record (ours: F7 F4 slot code…), the module's answer
// record (F4 F7 row column code…) and the learn report (FD 49 52 data…) have
// no end byte and no length: one ends where the next frame begins.
namespace FrameLayout {
constexpr quint8 kStartByte = 0xFD;
constexpr quint8 kEndByte = 0xBF;
constexpr qsizetype kFixedSize = 9;
inline const QByteArray kNineByteLead = QByteArray::fromHex("FD666666");  // control and baud frames alike
inline const QByteArray kControlLead = QByteArray::fromHex("FD66666666");
inline const QByteArray kBaudLead = QByteArray::fromHex("FD666666DF");
inline const QByteArray kRecordMarker = QByteArray::fromHex("F7F4");
constexpr qsizetype kRecordHeaderSize = 3;  // marker and slot
inline const QByteArray kAnswerMarker = QByteArray::fromHex("F4F7");
constexpr qsizetype kAnswerAddressSize = 4;  // marker, row, column
inline const QByteArray kLearnLead = QByteArray::fromHex("FD4952");
// Slots of a block: k (1 … 32) for the "开" code, k + 32 for the "关" code.
constexpr int kFirstSlot = 0x01;
constexpr int kLastSlot = 0x40;
}  // namespace FrameLayout

// The pause after each frame, and what the module does meanwhile.
namespace FramePause {
constexpr int kEnter = 100;      // enters configuration mode and echoes the frame
constexpr int kExit = 100;       // leaves configuration mode and echoes the frame
constexpr int kSetBaud = 150;    // takes up its new rate
constexpr int kClear = 200;      // erases its memory
constexpr int kReadRequest = 0;  // none: the dump is read as it comes, by the receive tick
constexpr int kBlock = 100;      // opens or closes one block of its memory
constexpr int kRecord = 50;      // stores one code
constexpr int kLearnReport = 0;  // none: one write, outside configuration mode
}  // namespace FramePause

// --- control frames: FD 66 66 66 66, a three-byte command, BF -------------------
inline const QString EnterConfigFrame = QStringLiteral("FD66666666AAAAAABF");
inline const QString ExitConfigFrame = QStringLiteral("FD66666666AAAABBBF");
inline const QString ReadRequestFrame = QStringLiteral("FD66666666AAABDDBF");
inline const QString ClearRequestFrame = QStringLiteral("FD66666666AAABCCBF");
// What the module sends after the last record of a dump (never sent by us).
inline const QString DumpEndFrame = QStringLiteral("FD66666666AAABDEBF");

inline const QString BlockBeginFrame1 = QStringLiteral("FD66666666AAABA1BF");
inline const QString BlockBeginFrame2 = QStringLiteral("FD66666666AAABA2BF");
inline const QString BlockBeginFrame3 = QStringLiteral("FD66666666AAABA3BF");
inline const QString BlockEndFrame1 = QStringLiteral("FD66666666AAABB1BF");
inline const QString BlockEndFrame2 = QStringLiteral("FD66666666AAABB2BF");
inline const QString BlockEndFrame3 = QStringLiteral("FD66666666AAABB3BF");

// Begin / end frame of upload block 1, 2 or 3 (empty text for any other number).
QString BlockBeginFrame(int block);
QString BlockEndFrame(int block);

// --- variable frames ------------------------------------------------------------
// "FD666666DF" + the rate as six upper-case hex digits + "BF".
QString SetBaudFrame(quint32 rate);
// "F7F4" + the slot as two upper-case hex digits + the cell's text as given.
QString CodeRecord(int slot, const QString& cellText);
// "FD4952" + the learn box's text as given.
QString LearnReportFrame(const QString& text);

// The bytes of a frame written without spaces in upper-case digits (every
// constant above); for comparing what arrives, never for user text.
QByteArray FixedFrameBytes(const QString& hexText);
