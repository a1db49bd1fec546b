#include "PortResult.h"

#include "PortSession.h"
#include "core/PortChoice.h"
#include "core/TableLayout.h"

namespace {

// A JSON string: quotes, backslashes and control characters escaped, the
// rest as UTF-8.
QByteArray Text(const QString& text)
{
    QByteArray out = "\"";
    for (const char c : text.toUtf8()) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (quint8(c) < 0x20)
                out += "\\u00" + QByteArray::number(quint8(c), 16).rightJustified(2, '0');
            else
                out += c;
        }
    }
    return out + '"';
}

QByteArray TextOrNull(const QString& text) { return text.isEmpty() ? QByteArray("null") : Text(text); }

}  // namespace

QString PortName(const PortTarget& t)
{
    return ExactComNumber(t.name) && !t.device.isEmpty() ? QStringLiteral("%1 (%2)").arg(t.name, t.device) : t.name;
}

QString DifferenceText(const CodeDifference& d)
{
    auto shown = [](const QString& code) { return code.isEmpty() ? QStringLiteral("(none)") : code; };
    return QStringList{d.title, d.column == TableLayout::kOnColumn ? QStringLiteral("开") : QStringLiteral("关"),
                       shown(d.inFile), shown(d.inModule)}
        .join(QLatin1Char('\t'));
}

PortResultFacts ResultFactsOf(const PortJob& job)
{
    const QString device = job.target.device;
    return {VerbName(job.verb), job.target.name, device.isEmpty() ? QString() : ResolvedDevicePath(device),
            SerialNumberOf(job.portList, device)};
}

QByteArray JsonResultLine(const PortResultFacts& facts, const PortOutcome& outcome)
{
    QByteArray differences = "[";
    for (const CodeDifference& d : outcome.differences) {
        if (differences.size() > 1) differences += ',';
        differences += "{\"row\":" + QByteArray::number(d.row) + ",\"title\":" + Text(d.title) + ",\"column\":"
            + (d.column == TableLayout::kOnColumn ? "\"on\"" : "\"off\"") + ",\"file\":" + Text(d.inFile)
            + ",\"module\":" + Text(d.inModule) + '}';
    }
    differences += ']';
    const bool ok = outcome.status == ExitStatus::Done;
    return "{\"port\":" + Text(facts.port) + ",\"device\":" + TextOrNull(facts.device) + ",\"serial\":"
        + TextOrNull(facts.serial) + ",\"command\":" + Text(facts.command) + ",\"ok\":" + (ok ? "true" : "false")
        + ",\"status\":" + QByteArray::number(outcome.status) + ",\"codes\":" + QByteArray::number(outcome.codes)
        + ",\"differences\":" + differences + ",\"error\":" + (ok ? QByteArray("null") : Text(outcome.summary))
        + ",\"seconds\":" + QByteArray::number(outcome.seconds, 'f', 3) + "}\n";
}
