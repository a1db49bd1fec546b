#include "SimOptions.h"

#include <QCommandLineParser>
#include <QList>
#include <utility>

namespace {

// The places named in a --pause-in list ("marker,code"); 0 for a bad list.
unsigned PausePlaces(const QString& list)
{
    static const QList<std::pair<QString, PausePlace>> names{
        {QStringLiteral("marker"), PauseInMarker},
        {QStringLiteral("address"), PauseInAddress},
        {QStringLiteral("mid-address"), PauseInMidAddress},
        {QStringLiteral("code"), PauseInCode},
    };
    unsigned places = 0;
    for (const QString& word : list.split(QLatin1Char(','))) {
        unsigned place = 0;
        for (const auto& [name, flag] : names)
            if (word.trimmed() == name) place = flag;
        if (place == 0) return 0;
        places |= place;
    }
    return places;
}

}  // namespace

int IntOption(const QCommandLineParser& parser, const QString& name, int fallback, bool* ok)
{
    if (!parser.isSet(name)) return fallback;
    bool good = false;
    const int value = parser.value(name).toInt(&good);
    if (!good || value < 0) *ok = false;
    return value;
}

void AddSimOptions(QCommandLineParser& parser)
{
    const QString ms = QStringLiteral("ms");
    const QString n = QStringLiteral("n");
    parser.addOptions({
        {QStringLiteral("pace"), QStringLiteral("Quiet time before each answer of a dump (default 30); 3400 makes a slow dump."), ms},
        {QStringLiteral("pieces"), QStringLiteral("Write every answer in this many pieces (default 1)."), n},
        {QStringLiteral("piece-gap"), QStringLiteral("Time between the pieces of an answer (default 3)."), ms},
        {QStringLiteral("back-to-back"), QStringLiteral("Send a whole dump in one write, with no quiet between answers.")},
        {QStringLiteral("noise"), QStringLiteral("Send this many noise bytes ahead of every answer."), n},
        {QStringLiteral("hang-up-after"), QStringLiteral("In the first dump, drop the line after this many records."), n},
        {QStringLiteral("hang-up-at-frame"), QStringLiteral("Drop the line instead of acting on the n-th frame received (1 = the first)."), n},
        {QStringLiteral("pause-in"),
         QStringLiteral("Records of a dump pause here: marker (between F4 and F7), address (before the row), "
                        "mid-address (between row and column), code (in its middle; before a one-byte code); "
                        "several as a list such as marker,code."),
         QStringLiteral("places")},
        {QStringLiteral("pause-for"), QStringLiteral("How long records pause (default 100)."), ms},
        {QStringLiteral("noise-behind"), QStringLiteral("Send noise this long after the last byte of a record (0 = right behind it); "
                                                        "different in every dump."), ms},
        {QStringLiteral("noise-bytes"), QStringLiteral("Bytes in each burst of noise behind a record or of stray bytes (default 4)."), n},
        {QStringLiteral("every"), QStringLiteral("Pauses and noise behind records touch every n-th record only, starting one "
                                                 "record earlier in each dump, so successive dumps touch other records (default 1)."), n},
        {QStringLiteral("same-noise"), QStringLiteral("Every dump alike: the same noise bytes behind the same records.")},
        {QStringLiteral("stop-after"), QStringLiteral("Every dump stops after this many records, without its dump end."), n},
        {QStringLiteral("dump-end-only"), QStringLiteral("Answer a read with the dump end alone: no dump start, no records.")},
        {QStringLiteral("stray-every"), QStringLiteral("Once a dump's records stop, send stray bytes this often until the program's next frame."), ms},
        {QStringLiteral("echo-again"), QStringLiteral("Send every echo a second time, this long after the first."), ms},
        {QStringLiteral("corrupt-marker"), QStringLiteral("The marker of records (those --every touches) arrives corrupted: F4 as 74, "
                                                          "as B4 in every other dump (with --same-noise, as 74 in the same records of every dump).")},
        {QStringLiteral("late-record"), QStringLiteral("The last record of every dump comes this long after the dump end."), ms},
        {QStringLiteral("foreign-record"), QStringLiteral("Right behind records (those --every touches), a record of no value cell: "
                                                          "F4 F7 61 03 99 (row 97, column 3).")},
        {QStringLiteral("loopback"), QStringLiteral("No module: the line sends back every byte the program sends, unchanged "
                                                    "(TX wired to RX).")},
        {QStringLiteral("hear-own"), QStringLiteral("The line sends back every byte the program sends, as an adapter that hears "
                                                    "its own sending, and the module answers behind it.")},
        {QStringLiteral("repeat-echo"), QStringLiteral("Answer a read with no dump, but with the enter echo again this often, "
                                                       "until the program's next frame."), ms},
        {QStringLiteral("repeat-records"), QStringLiteral("A dump never ends: after its last record its records come again, "
                                                          "one every --pace, until the program's next frame.")},
    });
}

bool ReadSimOptions(const QCommandLineParser& parser, SimOptions* options, QString* error)
{
    bool ok = true;
    SimOptions& o = *options;
    o.paceMs = IntOption(parser, QStringLiteral("pace"), o.paceMs, &ok);
    o.pieces = IntOption(parser, QStringLiteral("pieces"), o.pieces, &ok);
    o.pieceGapMs = IntOption(parser, QStringLiteral("piece-gap"), o.pieceGapMs, &ok);
    o.backToBack = parser.isSet(QStringLiteral("back-to-back"));
    o.noise = IntOption(parser, QStringLiteral("noise"), o.noise, &ok);
    o.hangUpAfter = IntOption(parser, QStringLiteral("hang-up-after"), o.hangUpAfter, &ok);
    o.hangUpAtFrame = IntOption(parser, QStringLiteral("hang-up-at-frame"), o.hangUpAtFrame, &ok);
    o.pauseMs = IntOption(parser, QStringLiteral("pause-for"), o.pauseMs, &ok);
    o.noiseBehindMs = IntOption(parser, QStringLiteral("noise-behind"), o.noiseBehindMs, &ok);
    o.noiseBytes = IntOption(parser, QStringLiteral("noise-bytes"), o.noiseBytes, &ok);
    o.every = IntOption(parser, QStringLiteral("every"), o.every, &ok);
    o.sameNoise = parser.isSet(QStringLiteral("same-noise"));
    o.stopAfter = IntOption(parser, QStringLiteral("stop-after"), o.stopAfter, &ok);
    o.dumpEndOnly = parser.isSet(QStringLiteral("dump-end-only"));
    o.strayEveryMs = IntOption(parser, QStringLiteral("stray-every"), o.strayEveryMs, &ok);
    o.echoAgainMs = IntOption(parser, QStringLiteral("echo-again"), o.echoAgainMs, &ok);
    o.corruptMarker = parser.isSet(QStringLiteral("corrupt-marker"));
    o.lateRecordMs = IntOption(parser, QStringLiteral("late-record"), o.lateRecordMs, &ok);
    o.foreignRecord = parser.isSet(QStringLiteral("foreign-record"));
    o.loopback = parser.isSet(QStringLiteral("loopback"));
    o.hearOwn = parser.isSet(QStringLiteral("hear-own"));
    o.repeatEchoMs = IntOption(parser, QStringLiteral("repeat-echo"), o.repeatEchoMs, &ok);
    o.repeatRecords = parser.isSet(QStringLiteral("repeat-records"));
    if (!ok || o.every < 1 || o.noiseBytes < 1) {
        *error = QStringLiteral("numbers must be whole and not negative; --every and --noise-bytes at least 1");
        return false;
    }
    if (parser.isSet(QStringLiteral("pause-in"))) {
        o.pausePlaces = PausePlaces(parser.value(QStringLiteral("pause-in")));
        if (o.pausePlaces == 0) {
            *error = QStringLiteral("--pause-in takes marker, address, mid-address or code, or a list of them such as marker,code");
            return false;
        }
    }
    return true;
}
