#include "CliCommand.h"

#include <QHash>
#include <QSet>
#include <algorithm>

#include "core/PortChoice.h"

namespace {

struct VerbInfo {
    const char* name;
    Verb verb;
    int positionals;  // PORTS and the rest; learn joins what follows PORTS into HEX
    bool takesOutput;
    bool usesPorts;   // talks to modules: --baud and --json apply
    bool takesPorts;  // the first argument is PORTS
    const char* synopsis;
    const char* help;
};

// clang-format off
const VerbInfo kVerbs[] = {
    {"ports", Verb::Ports, 0, false, false, false, "ports",
     "Lists the serial ports, one line each: COM<n>, the device path and the\n"
     "description, tab-separated, numbered as the window numbers them (the\n"
     "ports named in VELMORA_EXTRA_PORTS last).\n"},
    {"read", Verb::Read, 1, true, true, true, "read     PORTS [-o FILE] [--once] [--baud RATE]",
     "Reads the module's codes as the window's 读取模块 does. -o X.dat writes the\n"
     "table file the window would save after the same read into a fresh table;\n"
     "-o X.csv, or no -o, writes CSV (no -o: to standard output). With several\n"
     "ports, -o is a pattern holding {port}, e.g. backup-{port}.dat.\n"
     "\n"
     "Every code is confirmed: the module is read twice (a third time only for\n"
     "codes still in doubt) and a code is taken when two reads give the same\n"
     "bytes and neither found it doubtful (bytes that are no record on the line\n"
     "behind it, bytes after the dump's end, or its cell named twice). Stray\n"
     "bytes cast doubt on their own stretch of a read only: an empty cell is\n"
     "confirmed by a read without such a stretch, or by two reads whose doubtful\n"
     "stretches do not overlap. When a code stays unconfirmed, its row is\n"
     "named, nothing is written and the exit status is 6. --once reads once and\n"
     "takes the dump when it holds no doubtful code and no bytes that are no\n"
     "record. The file is written only once every code is confirmed.\n"},
    {"write", Verb::Write, 2, false, true, true, "write    PORTS FILE [--verify [--once]] [--baud RATE]",
     "Writes FILE (a table file of any version the window reads, or CSV) into\n"
     "the module with the frames, order and pauses of the window's 写入模块.\n"
     "Every code is checked first; a bad one is named by its row title and\n"
     "column and nothing is sent. When the module does not echo the enter frame\n"
     "within 1 s, only the exit frame follows (exit status 5); on a line that\n"
     "only sends back what it is sent (a loopback), the upload stops 1 s after\n"
     "its enter frame with the exit frame (exit status 5). Ctrl+C stops after\n"
     "the current frame and sends the exit frame (exit status 130). --verify then\n"
     "reads the module back as verify does and compares it with FILE: exit status\n"
     "0 when every code matches, 1 with the differences listed, 6 when the\n"
     "module's answers were not clear.\n"},
    {"verify", Verb::Verify, 2, false, true, true, "verify   PORTS FILE [--once] [--baud RATE]",
     "Reads the module, confirming every code as read does, and compares it\n"
     "with FILE (spacing and case do not matter). Prints one line per confirmed\n"
     "difference on standard output: port, row title, 开 or 关, the file's code\n"
     "and the module's code, tab-separated ((none) for an empty cell). Exit\n"
     "status 0 when all match, 1 when not, 6 when a code stayed unconfirmed.\n"
     "A code of FILE that a read cannot bring back whole (it holds F4 F7 or a\n"
     "module answer's bytes) is named on standard error and looked for as it is.\n"},
    {"clear", Verb::Clear, 1, false, true, true, "clear    PORTS [--baud RATE]",
     "Erases the module's codes as the window's 清空模块 does. A line that only\n"
     "sends back what it is sent (a loopback) gives exit status 5, 1 s after the\n"
     "enter frame.\n"},
    {"set-baud", Verb::SetBaud, 2, false, true, true, "set-baud PORTS NEWRATE [--baud RATE]",
     "Changes the module's own line rate to NEWRATE as the window's 设置波特率\n"
     "does; the port keeps --baud. Use --baud NEWRATE from then on.\n"},
    {"learn", Verb::Learn, 2, false, true, true, "learn    PORTS HEX [--baud RATE]",
     "Sends a learn report (上报) with HEX as its data, e.g. \"01 02 0A\".\n"},
    {"provision", Verb::Provision, 1, false, true, false,
     "provision TABLE [--watch-dir DIR] [--count N] [--report FILE] [--once] [--baud RATE]",
     "A station for a production line: waits for serial devices to appear in DIR\n"
     "and runs write --verify on each new one: TABLE written, the module read\n"
     "back with every code confirmed, and compared. A module plugged in while\n"
     "others run is started at once. DIR is /dev/serial/by-id unless --watch-dir\n"
     "names another folder of device paths or links to them. One line per module\n"
     "on standard output: PASS, or FAIL with the module's exit status (1 codes\n"
     "differ, 3 port, 5 no answer, 6 answers not clear). A device is provisioned\n"
     "once, however many links lead to it, and again only after it has gone and\n"
     "come back. An entry counts once it has led to the same character device\n"
     "for 0.2 s; names beginning with a dot (links made under a temporary name)\n"
     "are passed over.\n"
     "\n"
     "  --watch-dir DIR  the folder to watch (default /dev/serial/by-id)\n"
     "  --count N        end once N modules are done (default: until Ctrl+C)\n"
     "  --report FILE    append each module's JSON line to FILE, on disk at once; a\n"
     "                   line that cannot be written whole is taken back out\n"
     "\n"
     "Ctrl+C lets running modules finish their current frame, sends each the exit\n"
     "frame and ends (exit status 130). Exit status 0 when every module passed,\n"
     "1 when any failed, 4 when the report could not be written.\n"},
    {"export", Verb::Export, 1, true, false, false, "export   TABLE.dat [-o FILE.csv]",
     "Writes the codes of a table file as CSV (to standard output without -o):\n"
     "header row,title,on,off, then rows 1 to 96; codes as upper-case hex pairs\n"
     "separated by one space, an empty cell as an empty field. A cell that holds\n"
     "no code is written as it stands, with a warning. -o must not be TABLE.dat\n"
     "itself.\n"},
    {"import", Verb::Import, 1, true, false, false, "import   FILE.csv -o TABLE.dat",
     "Makes a table file from CSV: the window's fresh table with the CSV's codes.\n"
     "Codes may be in any case and spacing; the title column is not read. Every\n"
     "row from 1 to 96 appears exactly once, as export writes them: a CSV that\n"
     "lacks a row or names one twice is refused with the rows concerned, and a\n"
     "bad code with its line number; then nothing is written. -o must not be\n"
     "the CSV itself.\n"},
};
// clang-format on

const VerbInfo* FindVerb(const QString& name)
{
    for (const VerbInfo& v : kVerbs)
        if (name == QLatin1String(v.name)) return &v;
    return nullptr;
}

// The offered rates, the default one marked where asked.
QString RateList(bool markDefault = false);

// The options, each with the commands it applies to (none: every command).
struct OptionHelp {
    const char* text;
    bool (*appliesTo)(const VerbInfo& v);
};
bool TakesOutput(const VerbInfo& v) { return v.takesOutput; }
bool UsesPorts(const VerbInfo& v) { return v.usesPorts; }
bool ReadsModules(const VerbInfo& v)
{
    return v.verb == Verb::Read || v.verb == Verb::Verify || v.verb == Verb::Write || v.verb == Verb::Provision;
}
bool IsWrite(const VerbInfo& v) { return v.verb == Verb::Write; }

const OptionHelp kOptions[] = {
    {"  -o, --output FILE  where the result goes; with several ports a pattern with {port}\n", TakesOutput},
    {"      --backup       with -o: an existing output keeps its previous content as\n"
     "                     FILE.bak (FILE.bak2, … when taken); without it -o replaces it\n", TakesOutput},
    {"  -b, --baud RATE    the port's rate: %1\n", UsesPorts},
    {"  -q, --quiet        nothing on standard error unless something failed\n", nullptr},
    {"      --once         read, verify, write --verify, provision: one read of the\n"
     "                     module, taken only when it holds no doubtful code\n", ReadsModules},
    {"      --verify       write: read the module back and compare it with FILE\n", IsWrite},
    {"      --json         results as JSON Lines on standard output, one object per\n"
     "                     port (see man velmora-cli); messages stay on standard error\n", UsesPorts},
    {"  -h, --help         help; velmora-cli COMMAND --help for one command\n", nullptr},
};

// Every option, or only those of one command.
QString OptionsText(const VerbInfo* v)
{
    QString text = QStringLiteral("Options:\n");
    for (const OptionHelp& o : kOptions)
        if (!v || !o.appliesTo || o.appliesTo(*v)) {
            const QString line = QString::fromUtf8(o.text);
            text += line.contains(QLatin1String("%1")) ? line.arg(RateList(true)) : line;
        }
    if (!v) text += QStringLiteral("      --version      the version\n");
    return text;
}

const char kPortsText[] =
    "PORTS is COM<n> as \"velmora-cli ports\" lists it (the window's numbering) or a\n"
    "device path; several, joined by commas, are handled at the same time, each\n"
    "with its own progress line and one summary line at the end.\n";

const char kExitText[] =
    "Exit status: 0 done; 1 verify or write --verify found differences (provision:\n"
    "a module failed); 2 usage error (an output that is the input, too); 3 a port\n"
    "could not be opened or was lost; 4 a file is unreadable or invalid, or could\n"
    "not be written (a link that another user put in a shared folder such as /tmp\n"
    "is not followed); 5 the module did not answer in time; 6 the module's\n"
    "answers were not clear (a code could not be confirmed); 130\n"
    "interrupted (Ctrl+C: the current frame is finished and the exit frame sent).\n"
    "With several ports, the highest of them.\n";

// The offered rates joined by commas; `markDefault` marks the one a port opens at.
QString RateList(bool markDefault)
{
    QStringList rates;
    for (int r : kOfferedRates)
        rates << QString::number(r) + (markDefault && r == kDefaultRate ? QStringLiteral(" (default)") : QString());
    return rates.join(QStringLiteral(", "));
}

QString CommandHelp(const VerbInfo& v)
{
    QString text = QStringLiteral("Usage: velmora-cli ") + QString::fromUtf8(v.synopsis) + QStringLiteral("\n\n")
        + QString::fromUtf8(v.help);
    if (v.takesPorts) text += QLatin1Char('\n') + QString::fromUtf8(kPortsText);
    return text + QLatin1Char('\n') + OptionsText(&v) + QLatin1Char('\n') + QString::fromUtf8(kExitText);
}

ParsedArguments UsageError(const QString& message, const VerbInfo* v = nullptr)
{
    ParsedArguments parsed;
    parsed.kind = ParsedArguments::Kind::UsageError;
    parsed.error = message;
    if (v) parsed.verbName = QLatin1String(v->name);
    return parsed;
}

bool ParseRate(const QString& text, int& rate)
{
    bool ok = false;
    rate = text.toInt(&ok);
    return ok && std::find(std::begin(kOfferedRates), std::end(kOfferedRates), rate) != std::end(kOfferedRates);
}

}  // namespace

QString VerbName(Verb verb)
{
    for (const VerbInfo& v : kVerbs)
        if (v.verb == verb) return QLatin1String(v.name);
    return QString();
}

QString TryHelpLine(const QString& verbName)
{
    return verbName.isEmpty() ? QStringLiteral("Try 'velmora-cli --help'.")
                              : QStringLiteral("Try 'velmora-cli %1 --help'.").arg(verbName);
}

QString UsageText()
{
    QString text = QStringLiteral(
        "Usage: velmora-cli COMMAND [ARGUMENTS] [OPTIONS]\n\n"
        "Reads, writes, verifies and backs up switch-controller modules over\n"
        "serial ports, several at once, with the frames and pauses of the window.\n\n"
        "Commands:\n");
    for (const VerbInfo& v : kVerbs) text += QStringLiteral("  velmora-cli ") + QString::fromUtf8(v.synopsis) + QLatin1Char('\n');
    return text + QLatin1Char('\n') + QString::fromUtf8(kPortsText) + QLatin1Char('\n') + OptionsText(nullptr)
        + QLatin1Char('\n') + QString::fromUtf8(kExitText);
}

ParsedArguments ParseArguments(const QStringList& arguments)
{
    ParsedArguments parsed;
    if (arguments.isEmpty()) return UsageError(QStringLiteral("no command given"));
    const QString first = arguments.first();
    if (first == QLatin1String("-h") || first == QLatin1String("--help") || first == QLatin1String("help")) {
        parsed.kind = ParsedArguments::Kind::Help;
        const VerbInfo* v = arguments.size() > 1 ? FindVerb(arguments.at(1)) : nullptr;
        parsed.helpText = v ? CommandHelp(*v) : UsageText();
        return parsed;
    }
    if (first == QLatin1String("--version")) {
        parsed.kind = ParsedArguments::Kind::Version;
        return parsed;
    }
    const VerbInfo* v = FindVerb(first);
    if (!v) return UsageError(QStringLiteral("unknown command \"%1\"").arg(first));

    CliCommand& c = parsed.command;
    c.verb = v->verb;
    const QString verb = QLatin1String(v->name);
    auto usage = [v](const QString& message) { return UsageError(message, v); };
    QStringList positionals;
    QSet<QString> seen;
    bool optionsEnded = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString arg = arguments.at(i);
        if (optionsEnded || !arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-")) {
            positionals << arg;
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            parsed.kind = ParsedArguments::Kind::Help;
            parsed.helpText = CommandHelp(*v);
            return parsed;
        }
        if (arg == QLatin1String("-q") || arg == QLatin1String("--quiet")) {
            c.quiet = true;
            continue;
        }
        if (arg == QLatin1String("--once")) {
            if (v->verb != Verb::Read && v->verb != Verb::Verify && v->verb != Verb::Write && v->verb != Verb::Provision)
                return usage(QStringLiteral("%1 reads no module; --once does not apply").arg(verb));
            c.once = true;
            continue;
        }
        if (arg == QLatin1String("--verify")) {
            if (v->verb != Verb::Write) return usage(QStringLiteral("--verify is an option of write only"));
            c.verifyAfterWrite = true;
            continue;
        }
        if (arg == QLatin1String("--backup")) {
            if (!v->takesOutput) return usage(QStringLiteral("%1 does not write a file; --backup does not apply").arg(verb));
            c.backup = true;
            continue;
        }
        if (arg == QLatin1String("--json")) {
            if (!v->usesPorts) return usage(QStringLiteral("%1 talks to no module; --json does not apply").arg(verb));
            c.json = true;
            continue;
        }
        // Options with a value: "-o X", "--output X", "--output=X".
        QString name = arg, value;
        bool hasValue = false;
        if (const qsizetype eq = arg.indexOf(QLatin1Char('=')); arg.startsWith(QLatin1String("--")) && eq > 0) {
            name = arg.left(eq);
            value = arg.mid(eq + 1);
            hasValue = true;
        }
        const QString option = name == QLatin1String("-o") ? QStringLiteral("--output")
            : name == QLatin1String("-b")                   ? QStringLiteral("--baud")
                                                            : name;
        static const QStringList kValueOptions = {QStringLiteral("--output"), QStringLiteral("--baud"),
                                                  QStringLiteral("--watch-dir"), QStringLiteral("--count"),
                                                  QStringLiteral("--report")};
        if (!kValueOptions.contains(option)) return usage(QStringLiteral("unknown option \"%1\"").arg(arg));
        if (!hasValue) {
            if (i + 1 >= arguments.size()) return usage(QStringLiteral("%1 needs a value").arg(name));
            value = arguments.at(++i);
        }
        if (seen.contains(option)) return usage(QStringLiteral("%1 given twice").arg(name));
        seen.insert(option);
        if (option == QLatin1String("--output")) {
            if (!v->takesOutput) return usage(QStringLiteral("%1 does not write a file; -o does not apply").arg(verb));
            if (value.isEmpty()) return usage(QStringLiteral("-o needs a file name"));
            c.output = value == QLatin1String("-") ? QString() : value;
        } else if (option == QLatin1String("--baud")) {
            if (!v->usesPorts) return usage(QStringLiteral("%1 uses no port; --baud does not apply").arg(verb));
            if (!ParseRate(value, c.baud))
                return usage(QStringLiteral("\"%1\" is not a rate the window offers (%2)").arg(value, RateList()));
        } else {
            if (v->verb != Verb::Provision) return usage(QStringLiteral("%1 is an option of provision only").arg(option));
            if (option == QLatin1String("--count")) {
                bool ok = false;
                c.count = value.toInt(&ok);
                if (!ok || c.count < 1) return usage(QStringLiteral("--count \"%1\" is not a number of modules (1 or more)").arg(value));
            } else if (value.isEmpty()) {
                return usage(QStringLiteral("%1 needs a name").arg(option));
            } else if (option == QLatin1String("--watch-dir")) {
                c.watchDir = value;
                c.watchDirGiven = true;
            } else {
                c.report = value;
            }
        }
    }

    // learn: everything after PORTS is the hex, so "01 02 0A" need not be quoted.
    if (v->verb == Verb::Learn && positionals.size() > 2) {
        const QString hex = positionals.mid(1).join(QLatin1Char(' '));
        positionals = QStringList{positionals.first(), hex};
    }
    if (positionals.size() != v->positionals)
        return usage(positionals.size() < v->positionals
                         ? QStringLiteral("%1: missing arguments").arg(verb)
                         : QStringLiteral("%1: unexpected argument \"%2\"").arg(verb, positionals.at(v->positionals)));

    if (v->takesPorts) {
        c.ports = positionals.first().split(QLatin1Char(','));
        for (const QString& port : c.ports)
            if (port.trimmed().isEmpty()) return usage(QStringLiteral("an empty name in PORTS \"%1\"").arg(positionals.first()));
        for (QString& port : c.ports) port = port.trimmed();
    }
    switch (v->verb) {
    case Verb::Write:
    case Verb::Verify:
        c.file = positionals.at(1);
        break;
    case Verb::SetBaud:
        if (!ParseRate(positionals.at(1), c.newRate))
            return usage(QStringLiteral("\"%1\" is not a rate the module is offered (%2)").arg(positionals.at(1), RateList()));
        break;
    case Verb::Learn:
        c.hex = positionals.at(1);
        if (c.hex.trimmed().isEmpty()) return usage(QStringLiteral("learn: the hex data is empty"));
        break;
    case Verb::Export:
    case Verb::Import:
    case Verb::Provision:
        c.file = positionals.at(0);
        break;
    default:
        break;
    }
    if (v->verb == Verb::Import && c.output.isEmpty()) return usage(QStringLiteral("import: -o TABLE.dat is required"));
    if (c.backup && c.output.isEmpty()) return usage(QStringLiteral("--backup keeps a file that -o replaces; name one with -o"));
    if (v->verb == Verb::Write && c.once && !c.verifyAfterWrite)
        return usage(QStringLiteral("write reads nothing back without --verify; --once does not apply"));
    // Standard output carries the JSON lines; a CSV there would break them.
    if (v->verb == Verb::Read && c.json && c.output.isEmpty())
        return usage(QStringLiteral("read --json writes JSON on standard output; name the codes' file with -o FILE"));

    parsed.kind = ParsedArguments::Kind::Run;
    return parsed;
}
