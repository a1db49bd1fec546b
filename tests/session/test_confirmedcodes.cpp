// velmora-cli's confirm rules on the dumps the read of the module hands over.
#include <QtTest>

#include "session/ConfirmedCodes.h"
#include "session/TableCompare.h"
#include "core/TableLayout.h"

// "1,1=AA 2,2=BBCC !3,1=DD": the codes a dump brought, "!" where it marked
// the code doubtful; a cell not named is empty; records in that order. "~":
// bytes that were no record came there (first: after the last record).
static Dump DumpOf(QString text)
{
    Dump dump{.started = true};
    if (text.startsWith(u'~')) text = text.mid(1) + QStringLiteral(" ~");
    for (QString cell : text.split(u' ', Qt::SkipEmptyParts)) {
        if (cell == u'~') {
            dump.whole = false;
            dump.strayAt << int(dump.order.size());
            continue;
        }
        const bool doubtful = cell.startsWith(u'!');
        const QStringList parts = cell.remove(u'!').split(QRegularExpression(QStringLiteral("[,=]")));
        const int key = TableLayout::CellKey(parts.at(0).toInt(), parts.at(1).toInt());
        dump.codes.insert(key, QByteArray::fromHex(parts.at(2).toLatin1()));
        dump.order << key;
        if (doubtful) dump.doubtful << key;
    }
    return dump;
}

class ConfirmedCodesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void dumpsConfirmCodesOrLeaveThemUnclear_data()
    {
        QTest::addColumn<QStringList>("dumps");
        QTest::addColumn<bool>("once");
        QTest::addColumn<QString>("cell11");   // the code confirmed for row 1 "开"; "?" unconfirmed
        QTest::addColumn<int>("unclear");      // cells not confirmed
        QTest::addColumn<QString>("status");   // what the read does next: "another dump", or its exit status
        QTest::newRow("one dump is not enough") << QStringList{"1,1=AA"} << false << "?" << 192 << "another dump";
        QTest::newRow("two dumps agree") << QStringList{"1,1=AA 2,2=BB", "1,1=AA 2,2=BB"} << false << "AA" << 0 << "0";
        QTest::newRow("two empty dumps confirm every cell empty") << QStringList{"", ""} << false << "" << 0 << "0";
        QTest::newRow("a code and an empty cell disagree") << QStringList{"1,1=AA", ""} << false << "?" << 1 << "another dump";
        QTest::newRow("a third dump settles a difference") << QStringList{"1,1=AA", "1,1=AB", "1,1=AB"} << false << "AB" << 0 << "0";
        QTest::newRow("three that all differ") << QStringList{"1,1=AA", "1,1=AB", "1,1=AC"} << false << "?" << 192 << "6";
        QTest::newRow("a doubtful code counts for nothing") << QStringList{"!1,1=AA", "1,1=AA", "1,1=AA"} << false << "AA" << 0 << "0";
        QTest::newRow("doubtful in every dump") << QStringList{"!1,1=AA", "!1,1=AA", "!1,1=AA"} << false << "?" << 192 << "6";
        QTest::newRow("once: one dump, nothing doubtful") << QStringList{"1,1=AA"} << true << "AA" << 0 << "0";
        QTest::newRow("once: a doubtful code") << QStringList{"!1,1=AA 2,1=BB"} << true << "?" << 191 << "6";
        // A dump that was not whole vouches only for the codes it brought.
        QTest::newRow("no whole dump confirms no empty cell") << QStringList{"~1,1=AA", "~1,1=AA", "~1,1=AA"} << false << "AA" << 191 << "6";
        QTest::newRow("a noisy dump and a whole one") << QStringList{"~1,1=AA", "1,1=AA"} << false << "AA" << 0 << "0";
        // A doubtful record (its cell unconfirmed) or noise casts doubt from the good record before it to
        // the good one after; two dumps whose stretches overlap on the order all dumps share vouch for no empty cell.
        QTest::newRow("an unconfirmed cell's stretch") << QStringList{"1,1=AA 3,1=AB 5,1=CC", "1,1=AA 3,1=AC 5,1=CC"} << false << "AA" << 190 << "another dump";
        QTest::newRow("stretches apart") << QStringList{"1,1=AA ~ 3,1=BB 5,1=CC", "1,1=AA 3,1=BB ~ 5,1=CC"} << false << "AA" << 0 << "0";
        QTest::newRow("stretches overlap") << QStringList{"1,1=AA ~ 3,1=BB 5,1=CC", "1,1=AA ~ 3,1=BB 5,1=CC", "1,1=AA ~ 3,1=BB 5,1=CC"} << false << "AA" << 189 << "6";
        QTest::newRow("two orders") << QStringList{"1,1=AA ~ 3,1=BB 5,1=CC", "3,1=BB 1,1=AA 5,1=CC ~"} << false << "AA" << 189 << "another dump";
        QTest::newRow("once: not whole") << QStringList{"~1,1=AA 2,1=BB"} << true << "AA" << 190 << "6";
    }
    void dumpsConfirmCodesOrLeaveThemUnclear()
    {
        QFETCH(QStringList, dumps);
        QFETCH(bool, once);
        QFETCH(QString, cell11);
        QFETCH(int, unclear);
        QFETCH(QString, status);
        ConfirmedCodes confirmed(once);
        for (const QString& dump : dumps) {
            QVERIFY(confirmed.WantsAnotherDump());
            confirmed.Add(DumpOf(dump));
        }
        const QVector<CellPosition> cells = confirmed.Unconfirmed();
        QCOMPARE(cells.size(), unclear);
        QCOMPARE(cells.contains(CellPosition{1, 1}), cell11 == QLatin1String("?"));
        if (cell11 != QLatin1String("?")) QCOMPARE(confirmed.Code(1, 1), QByteArray::fromHex(cell11.toLatin1()));
        QCOMPARE(confirmed.WantsAnotherDump() ? QStringLiteral("another dump") : cells.isEmpty() ? "0" : "6", status);
    }

    // One dump read with --once against row 1 "开" of a table (row 2 "关" holds BB in both).
    void tableCellsAgainstTheModule_data()
    {
        QTest::addColumn<QString>("inTable");
        QTest::addColumn<QString>("dump");
        QTest::addColumn<QString>("verdict");  // "same", "unconfirmed", or "differs: <module's code>" ("*" first: no code in the table)
        QTest::addColumn<int>("compared");
        QTest::newRow("the same code, written otherwise") << "aa  bb" << "1,1=AABB" << "same" << 2;
        QTest::newRow("another code") << "AA" << "1,1=AB" << "differs: AB" << 2;
        QTest::newRow("a code where the table is empty") << "" << "1,1=AA" << "differs: AA" << 2;
        QTest::newRow("empty where the table holds a code") << "AA" << "" << "differs: " << 2;
        QTest::newRow("both empty") << "" << "" << "same" << 1;
        QTest::newRow("no code in the table") << "XY" << "1,1=AA" << "*differs: AA" << 2;
        QTest::newRow("no code, and the module empty") << "XY" << "" << "*differs: " << 2;
        // verify's rule: what the upload would send of it is the module's code.
        QTest::newRow("a blank inside a byte") << "A A" << "1,1=AA" << "same" << 2;
        QTest::newRow("a doubtful code is never different") << "AA" << "!1,1=AB" << "unconfirmed" << 1;
    }
    void tableCellsAgainstTheModule()
    {
        QFETCH(QString, inTable);
        QFETCH(QString, dump);
        QFETCH(QString, verdict);
        QFETCH(int, compared);
        TableCodes table;
        table.code[1][1] = inTable;
        table.code[2][2] = QStringLiteral("BB");
        ConfirmedCodes module(true);
        module.Add(DumpOf(dump + QStringLiteral(" 2,2=BB")));
        const TableComparison result = CompareTable(table, module);
        QCOMPARE(result.compared, compared);
        QString got = result.unconfirmed.contains(CellPosition{1, 1}) ? QStringLiteral("unconfirmed") : QStringLiteral("same");
        for (const CellDifference& d : result.differences) {
            QVERIFY(d.row == 1 && d.column == 1);
            QCOMPARE(d.inTable, ComparableCode(inTable));
            got = (d.notACode ? QStringLiteral("*") : QString()) + QStringLiteral("differs: ") + d.inModule;
        }
        QCOMPARE(got, verdict);
    }
};

QTEST_GUILESS_MAIN(ConfirmedCodesTest)
#include "test_confirmedcodes.moc"
