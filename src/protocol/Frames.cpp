#include "protocol/Frames.h"

QString BlockBeginFrame(int block)
{
    switch (block) {
    case 1: return BlockBeginFrame1;
    case 2: return BlockBeginFrame2;
    case 3: return BlockBeginFrame3;
    }
    return {};
}

QString BlockEndFrame(int block)
{
    switch (block) {
    case 1: return BlockEndFrame1;
    case 2: return BlockEndFrame2;
    case 3: return BlockEndFrame3;
    }
    return {};
}

QString SetBaudFrame(quint32 rate)
{
    return QString::asprintf("FD666666DF%06XBF", rate);
}

QString CodeRecord(int slot, const QString& cellText)
{
    return QString::asprintf("F7F4%02X", unsigned(slot) & 0xFFu) + cellText;
}

QString LearnReportFrame(const QString& text)
{
    return QStringLiteral("FD4952") + text;
}

QByteArray FixedFrameBytes(const QString& hexText)
{
    return QByteArray::fromHex(hexText.toLatin1());
}
