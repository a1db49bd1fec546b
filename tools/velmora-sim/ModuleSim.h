#pragma once
// The module's behaviour on the line: echoes, the read dump, storing uploaded
// records, erasing, the line rate, learn reports, and the ways it can be told
// to misbehave. Prints one line per frame it receives.

#include <QByteArray>
#include <QObject>
#include <QTextStream>
#include <QTimer>

#include "FrameReader.h"
#include "ModuleMemory.h"
#include "SimLine.h"

struct SimOptions {
    int paceMs = 30;         // quiet time before each answer of a dump
    int pieces = 1;          // every answer written in this many pieces …
    int pieceGapMs = 3;      // … this far apart
    bool backToBack = false; // a whole dump in one write, no quiet anywhere
    int noise = 0;           // bytes of noise sent ahead of every answer
    int hangUpAfter = -1;    // drop the line after this many records of the first dump
    int hangUpAtFrame = -1;  // drop the line instead of acting on this frame from the program (1 = the first)
    int quietGapMs = 20;     // an incoming record or learn report ends after this quiet
};

class ModuleSim : public QObject {
    Q_OBJECT
public:
    ModuleSim(SimLine& line, ModuleMemory& memory, const SimOptions& options, QTextStream& out);

    // Acts on one whole frame from the program.
    void OnFrame(const QByteArray& frame);

private:
    void OnBytes(const QByteArray& bytes);
    void Print(const QString& line);
    void Answer(const QByteArray& bytes, int gapMs, const QString& note = QString());
    void SendDump();
    void StoreRecord(const QByteArray& frame, const QString& hex);
    void SaveMemory();

    SimLine& line_;
    ModuleMemory& memory_;
    SimOptions options_;
    QTextStream& out_;
    FrameReader reader_;
    QTimer quiet_;
    bool configMode_ = false;
    int block_ = 0;  // upload block between its begin and end frames
    int framesHeard_ = 0;
};
