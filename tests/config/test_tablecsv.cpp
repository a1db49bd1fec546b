// The CSV form of the table's codes: what it writes, what it reads back, and
// the line it names when it refuses.

#include <QtTest>

#include "config/CellBlock.h"
#include "config/ConfigTable.h"
#include "config/TableCsv.h"

namespace {

// The CSV a laid-out table writes with `cells` ("row,column" -> text) filled in.
QByteArray CsvOf(const QMap<QPair<int, int>, QString>& cells, CellList* notCodes = nullptr)
{
    ConfigTable table;
    InitTable(table);
    for (auto it = cells.cbegin(); it != cells.cend(); ++it) table.SetCellText(it.key().first, it.key().second, it.value());
    return WriteTableCsv(CodesOf(table), notCodes);
}

QList<QByteArray> Lines(const QByteArray& csv) { return csv.split('\n'); }

const QByteArray kHeader = "row,title,on,off\n";

// A line "N\n" (a row without codes) for every value row not in `except`.
QByteArray RowsBut(const QList<int>& except)
{
    QByteArray lines;
    for (int row = 1; row <= 96; ++row)
        if (!except.contains(row)) lines += QByteArray::number(row) + '\n';
    return lines;
}

}  // namespace

class TableCsvTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void writesEveryRowInTableOrderWithCanonicalCodes()
    {
        const QByteArray csv = CsvOf({{{1, 1}, QStringLiteral("aa bb")},
                                      {{1, 2}, QStringLiteral("0A0b0C")},
                                      {{64, 2}, QStringLiteral("11\u300022 ")},  // full-width space inside
                                      {{96, 1}, QStringLiteral("5C ")}});       // as a read leaves it
        const QList<QByteArray> lines = Lines(csv);
        QCOMPARE(lines.size(), 98);  // header, 96 rows, nothing after the last line break
        QCOMPARE(lines.at(0), QByteArray("row,title,on,off"));
        QCOMPARE(lines.at(1), QStringLiteral("1,开关01控制,AA BB,0A 0B 0C").toUtf8());
        QCOMPARE(lines.at(2), QStringLiteral("2,开关01反馈,,").toUtf8());
        QCOMPARE(lines.at(64), QStringLiteral("64,开关32反馈,,11 22").toUtf8());
        QCOMPARE(lines.at(65), QStringLiteral("65,场景0,,").toUtf8());
        QCOMPARE(lines.at(96), QStringLiteral("96,场景31,5C,").toUtf8());
        QCOMPARE(lines.at(97), QByteArray());
    }

    void roundTripKeepsEveryCodeInEveryShape()
    {
        QMap<QPair<int, int>, QString> cells;
        const QStringList shapes = {QStringLiteral("a0 b1"), QStringLiteral("A0B1C2"), QStringLiteral(" ff  "),
                                    QStringLiteral("01 02 03 "), QStringLiteral("\u30000D0A\u3000"),
                                    QStringLiteral("DEADBEEF").repeated(16), QStringLiteral("00 \u300000")};
        int i = 0;
        for (int row = 1; row <= 96; row += 3)
            for (int column : {1, 2}) cells[{row, column}] = shapes.at(i++ % shapes.size());
        const QByteArray csv = CsvOf(cells);

        TableCodes read;
        CsvProblem problem;
        QVERIFY2(ReadTableCsv(csv, read, &problem), qPrintable(problem.message));
        for (int row = 1; row <= 96; ++row)
            for (int column : {1, 2}) {
                QString expected;
                QVERIFY(CanonicalCode(cells.value({row, column}), &expected));
                QCOMPARE(read.code[row][column], expected);
            }
        // Written again from what was read, the text is the same.
        ConfigTable table;
        InitTable(table);
        PutCodes(read, table);
        QCOMPARE(WriteTableCsv(CodesOf(table)), csv);
    }

    void readsWhatASpreadsheetMakesOfIt()
    {
        // A byte-order mark, CR LF, a CR alone, a quoted title with a comma and a quote,
        // rows out of order, blank lines and lines of empty fields, missing
        // trailing fields, an extra empty column, lower case and odd spacing.
        const QByteArray csv = "\xEF\xBB\xBFRow, Title ,ON,off\r\n"
                               "3,\"switch \"\"two\"\", control\",ab   cd,\r\n"
                               "\r\n"
                               ",,,\r\n"
                               "1,anything,  0a ,ff,\r"
                               "96,\r\n"
            + RowsBut({1, 3, 96});
        TableCodes read;
        CsvProblem problem;
        QVERIFY2(ReadTableCsv(csv, read, &problem), qPrintable(problem.message));
        // The same text handed over a byte at a time: marks, quotes and line ends cut in two.
        TableCsvReader reader;
        for (char byte : csv) QVERIFY(reader.Feed(&byte, 1));
        TableCodes piecewise;
        QVERIFY2(reader.Finish(piecewise), qPrintable(reader.Problem().message));
        QVERIFY(piecewise == read);
        QCOMPARE(read.code[3][1], QStringLiteral("AB CD"));
        QCOMPARE(read.code[1][1], QStringLiteral("0A"));
        QCOMPARE(read.code[1][2], QStringLiteral("FF"));
        QCOMPARE(read.code[96][1], QString());
        QCOMPARE(read.code[2][1], QString());  // a row without codes
        QCOMPARE(read.title[3], QString());    // titles are not read
    }

    void refusesWithTheLineOfTheFirstProblem_data()
    {
        QTest::addColumn<QByteArray>("csv");
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("message");
        QTest::newRow("odd digits") << kHeader + "1,,AA,\n2,,ABC,\n" << 3 << "bad on code: odd number of hex digits";
        QTest::newRow("not hex") << kHeader + "1,,,0G\n" << 2 << "bad off code: 'G' is not a hex digit";
        QTest::newRow("tab inside") << kHeader + "1,,A\tA,\n" << 2 << "bad on code: '\t' is not a hex digit";
        QTest::newRow("blank inside a byte") << kHeader + "1,,c0 2 ff 0,\n" << 2
                                             << "bad on code: a blank splits a byte (the module would get C0 2F F0)";
        QTest::newRow("row twice") << kHeader + "7,,,\n\n7,,,\n" << 4 << "row 7 again (first on line 2)";
        QTest::newRow("row 0") << kHeader + "0,,,\n" << 2 << "\"0\" is not a row number from 1 to 96";
        QTest::newRow("row 97") << kHeader + "97,,,\n" << 2 << "\"97\" is not a row number from 1 to 96";
        QTest::newRow("row not a number") << kHeader + "x1,,,\n" << 2 << "\"x1\" is not a row number from 1 to 96";
        QTest::newRow("fifth field") << kHeader + "1,,,,AA\n" << 2 << "more than four fields";
        QTest::newRow("no header") << QByteArray("1,,AA,\n") << 1 << "the first line must be the header row,title,on,off";
        QTest::newRow("empty") << QByteArray() << 1 << "no header row,title,on,off";
        QTest::newRow("open quote") << kHeader + "1,\"title,,\n2,,,\n" << 2 << "a quoted field is never closed";
        QTest::newRow("text after quote") << kHeader + "1,\"a\"b,,\n" << 2 << "text follows a closing quote";
        QTest::newRow("quoted line break counts") << kHeader + "1,\"a\nb\",,\n2,,1,\n" << 4 << "bad on code: odd number of hex digits";
        QTest::newRow("not UTF-8") << kHeader + "1,\xC3\x28,,\n" << 2 << "not UTF-8 text";
        QTest::newRow("not UTF-8 at the end") << kHeader + "1,,,\xE3\x80" << 2 << "not UTF-8 text";
        // A file cut short, or rows left out: named, since every row is there in a table's CSV.
        const QString missing = QStringLiteral(" missing: a table's CSV has every row from 1 to 96, each once");
        QTest::newRow("cut short") << kHeader + RowsBut({}).left(30) << 0 << "rows 14-96" + missing;
        QTest::newRow("rows left out") << kHeader + RowsBut({5, 7, 8, 9, 96}) << 0 << "rows 5, 7-9 and 96" + missing;
        QTest::newRow("one row left out") << kHeader + RowsBut({64}) << 0 << "row 64" + missing;
        // Bounds: no table's CSV comes near them.
        QTest::newRow("too many lines") << kHeader + QByteArray(TableCsvLimits::MostLines, '\n') + "1" << TableCsvLimits::MostLines + 1
                                        << "more than 100000 lines";
        QTest::newRow("too large") << kHeader + QByteArray(TableCsvLimits::LargestText, ',') << 0 << "larger than 8 MB";
    }
    void refusesWithTheLineOfTheFirstProblem()
    {
        QFETCH(QByteArray, csv);
        QFETCH(int, line);
        QFETCH(QString, message);
        TableCodes read;
        read.code[5][1] = QStringLiteral("kept");
        CsvProblem problem;
        QVERIFY(!ReadTableCsv(csv, read, &problem));
        QCOMPARE(problem.line, line);
        QCOMPARE(problem.message, message);
        QCOMPARE(read.code[5][1], QStringLiteral("kept"));  // nothing taken from a refused text
    }

    void aCellThatIsNoCodeIsWrittenAsItStandsAndNamed()
    {
        CellList notCodes;
        // A long one is written in pieces: a character of two UTF-16 units across the first cut.
        const QString longText = QString(65535, u'x') + QStringLiteral("\U0001F600\"") + QString(70000, u'y');
        const QByteArray csv = CsvOf(
            {{{2, 1}, QStringLiteral("12 3")}, {{5, 2}, QStringLiteral("x,\"y\"")}, {{7, 1}, longText}}, &notCodes);
        QCOMPARE(notCodes, CellList({{2, 1}, {5, 2}, {7, 1}}));
        const QList<QByteArray> lines = Lines(csv);
        QCOMPARE(lines.at(2), QStringLiteral("2,开关01反馈,12 3,").toUtf8());
        QCOMPARE(lines.at(5), QStringLiteral("5,开关03控制,,\"x,\"\"y\"\"\"").toUtf8());
        QCOMPARE(lines.at(7), QStringLiteral("7,开关04控制,\"").toUtf8() + longText.toUtf8().replace("\"", "\"\"") + "\",");
        // Read back, the first such cell is what stops it.
        CsvProblem problem;
        TableCodes read;
        QVERIFY(!ReadTableCsv(csv, read, &problem));
        QCOMPARE(problem.line, 3);
    }

    // A title or a cell that a spreadsheet would run as a formula goes as
    // text, in the CSV and in the grid's copy alike; a code never changes.
    void formulaLikeTextsGoAsText()
    {
        ConfigTable table;
        InitTable(table);
        const QStringList texts = {"=cmd|' /C calc'!A0", "+1", "-2", "@x", "\tA", "\rB", "AB 0F", "a=b"};
        for (int i = 0; i < texts.size(); ++i) table.SetCellText(1 + i, 1, texts[i]);
        table.SetCellText(1, 0, QStringLiteral("=title"));
        const QList<QByteArray> lines = Lines(WriteTableCsv(CodesOf(table)));
        const QList<QByteArray> written = {"1,'=title,'=cmd|' /C calc'!A0,", "2,开关01反馈,'+1,", "3,开关02控制,'-2,", "4,开关02反馈,'@x,",
                                           "5,开关03控制,'\tA,", "6,开关03反馈,\"'\rB\",", "7,开关04控制,AB 0F,", "8,开关04反馈,a=b,"};
        for (int i = 0; i < written.size(); ++i) QCOMPARE(lines.at(i + 1), written[i]);
        QCOMPARE(BlockAsText(table, 1, 0, 4, 1), QStringLiteral("'=title\t'=cmd|' /C calc'!A0\n开关01反馈\t'+1\n开关02控制\t'-2\n开关02反馈\t'@x"));
    }
};

QTEST_GUILESS_MAIN(TableCsvTest)
#include "test_tablecsv.moc"
