#pragma once
// The module's behaviour on the line: echoes, the read dump, storing uploaded
// records, erasing, the line rate, learn reports, and the ways it can be told
// to misbehave. Prints one line per frame it receives.

#include <QByteArray>
#include <QObject>
#include <QTextStream>
#include <QTimer>

#include "AnswerPlan.h"
#include "FrameReader.h"
#include "ModuleMemory.h"
#include "SimLine.h"
#include "SimOptions.h"

class ModuleSim : public QObject {
    Q_OBJECT
public:
    ModuleSim(SimLine& line, ModuleMemory& memory, const SimOptions& options, QTextStream& out);

    // Acts on one whole frame from the program.
    void OnFrame(const QByteArray& frame);
    // Whether stray bytes are still to come (--stray-every: until the program's next frame).
    bool Muttering() const { return stray_.isActive(); }

private:
    void OnBytes(const QByteArray& bytes);
    void Print(const QString& line);
    void Send(const QList<SimLine::Piece>& pieces);
    void StoreRecord(const QByteArray& frame, const QString& hex);
    void SaveMemory();

    SimLine& line_;
    ModuleMemory& memory_;
    SimOptions options_;
    QTextStream& out_;
    FrameReader reader_;
    AnswerPlan plan_;
    QTimer quiet_;
    QTimer stray_;  // a line that keeps muttering after a dump's records
    QTimer again_;  // a module that repeats itself: its enter echo, or its dump's records
    QList<QByteArray> repeated_;  // what it repeats, in turn
    qsizetype nextRepeated_ = 0;
    bool configMode_ = false;
    int block_ = 0;  // upload block between its begin and end frames
    int framesHeard_ = 0;
};
