#include "ModuleMemory.h"

#include <QFile>
#include <QSaveFile>
#include <QTextStream>

#include "core/TableLayout.h"
#include "protocol/Frames.h"

using namespace TableLayout;

MemoryCell SlotCell(int block, int slot)
{
    if (block < 1 || block > kBlocks || slot < FrameLayout::kFirstSlot || slot > FrameLayout::kLastSlot) return {};
    const bool on = slot <= kSlotsPerBlock;
    return {BlockRow(block, on ? slot : slot - kSlotsPerBlock), on ? kOnColumn : kOffColumn};
}

bool ModuleMemory::Load(const QString& file, QString* error)
{
    path = file;
    codes_.clear();
    rate = 0;
    QFile f(file);
    if (!f.exists()) return true;
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("cannot read %1: %2").arg(file, f.errorString());
        return false;
    }
    int lineNumber = 0;
    while (!f.atEnd()) {
        const QString line = QString::fromLatin1(f.readLine()).trimmed();
        ++lineNumber;
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
        const QStringList parts = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (parts.size() == 2 && parts.at(0) == QLatin1String("baud") && parts.at(1).toInt() > 0) {
            rate = parts.at(1).toInt();
            continue;
        }
        bool rowOk = false, columnOk = false;
        const int row = parts.value(0).toInt(&rowOk);
        const int column = parts.value(1).toInt(&columnOk);
        const QByteArray code = QByteArray::fromHex(parts.mid(2).join(QString()).toLatin1());
        if (!rowOk || !columnOk || !IsValueCell(row, column) || code.isEmpty()) {
            *error = QStringLiteral("%1:%2: expected \"row column code\"").arg(file).arg(lineNumber);
            return false;
        }
        codes_[{row, column}] = code;
    }
    return true;
}

bool ModuleMemory::Save(QString* error) const
{
    if (path.isEmpty()) return true;
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Text)) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, f.errorString());
        return false;
    }
    QTextStream out(&f);
    out << "# velmora-sim memory: row column code\n";
    if (rate > 0) out << "baud " << rate << '\n';
    for (auto it = codes_.cbegin(); it != codes_.cend(); ++it)
        out << it.key().first << ' ' << it.key().second << ' ' << it.value().toHex(' ').toUpper() << '\n';
    out.flush();
    if (!f.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, f.errorString());
        return false;
    }
    return true;
}

void ModuleMemory::Store(MemoryCell cell, const QByteArray& code)
{
    if (cell.row < 1 || cell.column < 1) return;
    codes_[{cell.row, cell.column}] = code;
}

void ModuleMemory::Erase() { codes_.clear(); }

QList<StoredCode> ModuleMemory::DumpOrder() const
{
    QList<int> rows;
    for (int k = 1; k <= kSwitches; ++k) rows << SwitchControlRow(k);
    for (int k = 1; k <= kSwitches; ++k) rows << SwitchFeedbackRow(k);
    for (int s = 0; s < kScenes; ++s) rows << SceneRow(s);
    QList<StoredCode> out;
    for (int r : rows)
        for (int c = kOnColumn; c <= kOffColumn; ++c) {
            const auto it = codes_.constFind({r, c});
            if (it != codes_.cend()) out.append({r, c, it.value()});
        }
    return out;
}

void ModuleMemory::FillDemo()
{
    // Switches 1 and 2: control and feedback; scenes 0 and 1.
    codes_[{1, 1}] = QByteArray::fromHex("A10101");
    codes_[{1, 2}] = QByteArray::fromHex("A10100");
    codes_[{2, 1}] = QByteArray::fromHex("B10101");
    codes_[{2, 2}] = QByteArray::fromHex("B10100");
    codes_[{3, 1}] = QByteArray::fromHex("A10201");
    codes_[{3, 2}] = QByteArray::fromHex("A10200");
    codes_[{4, 1}] = QByteArray::fromHex("B10201");
    codes_[{4, 2}] = QByteArray::fromHex("B10200");
    codes_[{65, 1}] = QByteArray::fromHex("C000FF01");
    codes_[{65, 2}] = QByteArray::fromHex("C000FF00");
    codes_[{66, 1}] = QByteArray::fromHex("C001FF01");
    codes_[{66, 2}] = QByteArray::fromHex("C001FF00");
}
