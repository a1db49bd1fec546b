#include "session/TableCompare.h"

#include "core/TableLayout.h"
#include "protocol/HexCodec.h"
#include "session/ConfirmedCodes.h"

QString ComparableCode(const QString& text)
{
    QString code;
    if (CanonicalCode(text, &code)) return code;
    QString squeezed = text;
    squeezed.remove(QLatin1Char(' ')).remove(QChar(0x3000));
    return squeezed.toUpper();
}

TableComparison CompareTable(const TableCodes& table, const ConfirmedCodes& module)
{
    using namespace TableLayout;
    TableComparison result;
    result.unconfirmed = module.Unconfirmed();
    for (int row = kFirstValueRow; row <= kLastValueRow; ++row)
        for (int column : {kOnColumn, kOffColumn}) {
            if (result.unconfirmed.contains(CellPosition{row, column})) continue;
            const QString inTable = ComparableCode(table.code[row][column]);
            const QByteArray held = module.Code(row, column);
            const QString inModule = ComparableCode(held.isEmpty() ? QString() : BytesToHex(held));
            if (!inTable.isEmpty() || !inModule.isEmpty()) ++result.compared;
            if (inTable == inModule) continue;
            QString canonical;
            result.differences.push_back(
                {row, column, inTable, inModule, !CanonicalCode(table.code[row][column], &canonical)});
        }
    return result;
}
