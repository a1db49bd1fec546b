#pragma once
// How the simulated module behaves on the line: the pace of its answers and
// the ways it can be told to misbehave, one command-line option each.

// Where the records of a dump pause; any combination.
enum PausePlace : unsigned {
    PauseInMarker = 1,      // F4 | F7 row column code
    PauseInAddress = 2,     // F4 F7 | row column code
    PauseInMidAddress = 4,  // F4 F7 row | column code
    PauseInCode = 8,        // in the middle of the code; before a one-byte code
};

struct SimOptions {
    int paceMs = 30;         // quiet time before each answer of a dump
    int pieces = 1;          // every answer written in this many pieces …
    int pieceGapMs = 3;      // … this far apart
    bool backToBack = false; // a whole dump in one write, no quiet anywhere
    int noise = 0;           // bytes of noise sent ahead of every answer
    int hangUpAfter = -1;    // drop the line after this many records of the first dump
    int hangUpAtFrame = -1;  // drop the line instead of acting on this frame from the program (1 = the first)
    int quietGapMs = 20;     // an incoming record or learn report with nothing behind it ends after this quiet

    unsigned pausePlaces = 0;  // PausePlace flags: where records pause …
    int pauseMs = 100;         // … for this long
    int noiseBehindMs = -1;    // noise this long after a record's last byte; -1: none
    int noiseBytes = 4;        // bytes in each burst of noise behind a record, and of stray bytes
    int every = 1;             // pauses and noise behind touch every n-th record, one on in each dump
    bool sameNoise = false;    // every dump alike: the same noise behind the same records
    int stopAfter = -1;        // every dump stops after this many records, without its dump end
    bool dumpEndOnly = false;  // a read is answered by the dump end alone
    int strayEveryMs = 0;      // once a dump's records stop, stray bytes this often until the next frame
    int echoAgainMs = -1;      // every echo sent a second time, this long after the first
    bool corruptMarker = false;  // touched records: their marker's F4 arrives as 74 (as B4 in every other dump)
    int lateRecordMs = -1;       // the last record of every dump comes this long after the dump end
    bool foreignRecord = false;  // right behind touched records, a record of no value cell (row 97, column 3)
    bool loopback = false;       // no module: the line sends back every byte the program sends
    bool hearOwn = false;        // the line sends back every byte the program sends, and the module answers too
    int repeatEchoMs = 0;        // a read gets no dump, but the enter echo again this often until the next frame
    bool repeatRecords = false;  // a dump never ends: its records again and again until the next frame
};

class QCommandLineParser;
class QString;

// Adds an option for every manner above to a command-line parser.
void AddSimOptions(QCommandLineParser& parser);
// Reads the manners back; false with a message naming the bad option.
bool ReadSimOptions(const QCommandLineParser& parser, SimOptions* options, QString* error);
// Reads a whole number option that must not be negative; `fallback` when unset.
int IntOption(const QCommandLineParser& parser, const QString& name, int fallback, bool* ok);
