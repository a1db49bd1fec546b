#include <QtTest>

#include <csignal>
#include <sys/resource.h>

#include "config/ConfigTable.h"
#include "config/TableFile.h"
#include "tests/config/TableFileBuilder.h"
#include "tests/support/FileBytes.h"

namespace {
quint32 WordAt(const QByteArray& b, qsizetype offset) { return qFromLittleEndian<quint32>(b.constData() + offset); }

// A table laid out by the program plus one code, so "unchanged" is visible.
void LayOutWithCode(ConfigTable& table)
{
    InitTable(table);
    table.SetCellText(3, 1, QStringLiteral("AA BB CC "));
}

// A file with something in every section the format has.
BuiltFile RichFile()
{
    BuiltFile f;
    f.header1 = 0x0102;
    f.header2 = 0x0304;
    f.defaultRowHeight = 22;
    f.defaultColumnWidth = 150;
    f.grid = 0x808080;
    f.background = 0xF0F0F0;
    f.text = 0x101010;
    for (int i = 0; i < 8; ++i) f.words1to8[i] = quint32(i * 3 + 1);
    f.alternating = 1;
    f.byRows = 0;
    f.odd = 0x00EEDDCC;
    f.even = 0x00CCDDEE;
    f.settingText1 = BuiltFile::Gb(QStringLiteral("打印标题 title"));
    f.settingText2 = "footer";
    f.words9to11[0] = 9;
    f.words9to11[2] = 0xFFFFFFFF;
    f.words12to18[0] = 61;
    f.words12to18[6] = 25;
    f.LayOut();
    f.heights = QVector<int>(97, 22);
    f.heights[5] = 40;
    f.widths = {90, 300, 333};
    f.columnKinds = {BuiltFile::ColumnKind(2, "combo", "list", {"甲", "second"}), BuiltFile::ColumnKind(0, "", "", {})};
    f.merges = {{10, 1, 10, 1, 11, 2}};
    f.cells.append({1, 1, "aa bb"});
    f.cells.append({1, 2, " 1A  2B   3c "});
    f.cells.append({2, 1, "AA BB CC "});
    f.cells.append({5, 2, BuiltFile::Gb(QStringLiteral("中文代码 €"))});
    f.cells.append({7, 1, "", 1});
    f.cells.append({8, 2, "pic", 0, QByteArray("\x89PNG\r\n\x1a\n", 8)});
    f.fontCells = {{0, 1}, {9, 1}};
    f.lists[0] = {{1, 1, 0x0000FF}, {2, 2, 0x00FF00}};
    f.lists[1] = {{1, 1, 0xFFFFFF}};
    f.lists[2].append({1, 2, 0x826});
    f.lists[2].append({2, 1, 0x814});
    f.lists[3] = {{4, 1, 5}};
    f.lists[4] = {{4, 2, 3}};
    f.lists[5] = {{6, 1, 1}};
    f.lists[6].append({6, 2, 0x4});
    f.lists[6][0].value = 0x30;
    f.rangeA = {BuiltFile::Word(1) + BuiltFile::Word(1) + BuiltFile::Word(2) + BuiltFile::Word(2)};
    f.rangeB = {BuiltFile::Word(3) + BuiltFile::Word(1) + BuiltFile::Word(4) + BuiltFile::Word(2),
                QByteArray(16, '\x7f')};
    return f;
}
}  // namespace

class TableFileTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString Path(const QString& name) const { return dir.filePath(name); }

private Q_SLOTS:
    void laidOutTableWritesTheGoldenFile()
    {
        ConfigTable table;
        InitTable(table);
        QVERIFY(table.SaveTable(Path("golden.dat")));
        const QByteArray saved = ReadAll(Path("golden.dat"));

        BuiltFile expected;
        expected.LayOut();
        QCOMPARE(saved.size(), 4972);
        QCOMPARE(saved, expected.Bytes());
        QCOMPARE(saved, ReadAll(qEnvironmentVariable("VELMORA_SOURCE_DIR") + QStringLiteral("/tests/config/data/laid-out-table.dat")));

        // Field by field where a mistake would hide in a long compare.
        QCOMPARE(saved.left(12), QByteArray("KTBF\x06\0\0\0\0\0\0\0", 12));
        const qsizetype block = 12;
        QCOMPARE(WordAt(saved, block + 0), 97u);
        QCOMPARE(WordAt(saved, block + 4), 3u);
        QCOMPARE(WordAt(saved, block + 92), 98u);   // cell records
        QCOMPARE(WordAt(saved, block + 108), 2u);   // text formats
        QCOMPARE(WordAt(saved, block + 124), 99u);  // cell states
        QCOMPARE(WordAt(saved, block + 476 - 12 + 388), 80u);  // first column width after 97 heights
        const qsizetype firstCell = 12 + 464 + 97 * 4 + 3 * 4;
        QCOMPARE(saved.mid(firstCell, 23), BuiltFile::Word(0) + BuiltFile::Word(1) + BuiltFile::Word(3) +
                                               QByteArray("\xbf\xaa\0", 3) + BuiltFile::Word(0) + BuiltFile::Word(0));
        QCOMPARE(saved.right(12), BuiltFile::Word(96) + BuiltFile::Word(0) + BuiltFile::Word(0x10));
    }

    void emptyTableWritesNoCellRecords()
    {
        ConfigTable table;
        QVERIFY(table.SaveTable(Path("blank.dat")));
        const QByteArray saved = ReadAll(Path("blank.dat"));
        QCOMPARE(WordAt(saved, 12 + 92), 0u);
        QCOMPARE(saved.size(), 12 + 464 + 97 * 4 + 3 * 4 + 99 * 12);
        QCOMPARE(WordAt(saved, 12 + 476), 24u);
        QCOMPARE(WordAt(saved, 12 + 464 + 97 * 4), 200u);
    }

    void codeWithTrailingBlankIsCountedWithItsZeroByte()
    {
        ConfigTable table;
        table.SetCellText(1, 1, QStringLiteral("AA BB CC "));
        QVERIFY(table.SaveTable(Path("code.dat")));
        const QByteArray saved = ReadAll(Path("code.dat"));
        const qsizetype cell = 12 + 464 + 97 * 4 + 3 * 4;
        QCOMPARE(saved.mid(cell, 12 + 10), BuiltFile::Word(1) + BuiltFile::Word(1) + BuiltFile::Word(10) +
                                               QByteArray("AA BB CC \0", 10));
    }

    void loadThenSaveIsByteIdentical()
    {
        const QByteArray original = RichFile().Bytes();
        QVERIFY(WriteAll(Path("rich.dat"), original));
        ConfigTable table;
        QVERIFY(table.LoadTable(Path("rich.dat")));
        QCOMPARE(table.GetCellText(1, 1), QStringLiteral("aa bb"));
        QCOMPARE(table.GetCellText(1, 2), QStringLiteral(" 1A  2B   3c "));
        QCOMPARE(table.GetCellText(5, 2), QStringLiteral("中文代码 €"));
        QCOMPARE(table.GetCellText(66, 0), QStringLiteral("场景1"));
        QCOMPARE(table.CellAlignment(1, 2), 3);
        QCOMPARE(table.CellAlignment(0, 1), 2);
        QCOMPARE(table.RowHeight(5), 40);
        QCOMPARE(table.ColumnWidth(2), 333);
        QVERIFY(table.SaveTable(Path("rich-saved.dat")));
        QCOMPARE(ReadAll(Path("rich-saved.dat")), original);
    }

    void editedCellIsTheOnlyChangeOnSave()
    {
        QVERIFY(WriteAll(Path("rich.dat"), RichFile().Bytes()));
        ConfigTable table;
        QVERIFY(table.LoadTable(Path("rich.dat")));
        table.SetCellText(2, 1, QStringLiteral("11 22 ㊣"));
        QVERIFY(table.SaveTable(Path("edited.dat")));
        BuiltFile expected = RichFile();
        for (BuiltCell& c : expected.cells)
            if (c.row == 2 && c.column == 1) c.text = BuiltFile::Gb(QStringLiteral("11 22 ㊣"));
        QCOMPARE(ReadAll(Path("edited.dat")), expected.Bytes());
    }

    void olderVersionsLoadAndSaveAsVersionSix_data()
    {
        QTest::addColumn<int>("version");
        for (int v = 1; v <= 5; ++v) QTest::newRow(qPrintable(QStringLiteral("v%1").arg(v))) << v;
    }
    void olderVersionsLoadAndSaveAsVersionSix()
    {
        QFETCH(int, version);
        BuiltFile f;
        f.version = version;
        f.LayOut();
        f.cells.append({3, 2, BuiltFile::Gb(QStringLiteral("fd 66 开"))});
        f.lists[0] = {{3, 2, 0x00ABCDEF}};
        f.rangeA = {QByteArray(16, '\x01')};
        f.rangeB = {QByteArray(16, '\x02')};
        QVERIFY(WriteAll(Path("old.dat"), f.Bytes()));

        ConfigTable table;
        QVERIFY(table.LoadTable(Path("old.dat")));
        QCOMPARE(table.GetCellText(3, 2), QStringLiteral("fd 66 开"));
        QCOMPARE(table.GetCellText(96, 0), QStringLiteral("场景31"));
        QCOMPARE(table.CellAlignment(0, 2), 2);
        QVERIFY(table.SaveTable(Path("old-saved.dat")));

        // A version-1 file carries no cell states: its fixed cells get the
        // fixed-cell mark as a laid-out table's do, so the result is the same.
        BuiltFile expected = f;
        expected.version = 6;
        if (version < 3) expected.rangeA.clear();
        if (version < 4) expected.rangeB.clear();
        QCOMPARE(ReadAll(Path("old-saved.dat")), expected.Bytes());
    }

    void rejectedFilesLeaveTheTableUnchanged_data()
    {
        QTest::addColumn<QByteArray>("file");
        const QByteArray good = RichFile().Bytes();
        const auto withWord = [&good](qsizetype offset, quint32 v) {
            QByteArray b = good;
            b.replace(offset, 4, BuiltFile::Word(v));
            return b;
        };
        QByteArray small = good.left(539);
        QTest::newRow("539 bytes") << small;
        QTest::newRow("wrong magic") << QByteArray("KTBG") + good.mid(4);
        QTest::newRow("version 0") << withWord(4, 0);
        QTest::newRow("version 7") << withWord(4, 7);
        QTest::newRow("negative rows") << withWord(12, quint32(-1));
        QTest::newRow("rows beyond the file") << withWord(12, 1000000);
        QTest::newRow("columns beyond the file") << withWord(16, 0x7FFFFFFF);
        QTest::newRow("fixed rows beyond rows") << withWord(20, 98);
        QTest::newRow("column kinds beyond the file") << withWord(12 + 84, 100000);
        QTest::newRow("merges beyond the file") << withWord(12 + 88, 0x10000000);
        QTest::newRow("cell records beyond the file") << withWord(12 + 92, 5000);
        QTest::newRow("negative state count") << withWord(12 + 124, quint32(-3));
        QTest::newRow("range-B records beyond the file") << withWord(12 + 132, 3);
        // The list-text count of the first column-kind record.
        QTest::newRow("column-kind texts beyond the file") << withWord(12 + 464 + 97 * 4 + 3 * 4 + 36, 0x01000000);
        const qsizetype cellsStart = 12 + 464 + 97 * 4 + 3 * 4 + 40 + 200 + 40 + 24;
        QTest::newRow("text length beyond the file") << withWord(cellsStart + 8, 1 << 30);
        QTest::newRow("zero text length") << withWord(cellsStart + 8, 0);
        QTest::newRow("ends inside the cell records") << good.left(cellsStart + 2000);
        QTest::newRow("ends inside the attribute lists") << good.left(good.size() - 32 - 12 * 50 - 5);
        QTest::newRow("ends inside the range records") << good.left(good.size() - 1);
    }
    void rejectedFilesLeaveTheTableUnchanged()
    {
        QFETCH(QByteArray, file);
        QVERIFY(file.size() >= 539);
        QVERIFY(WriteAll(Path("bad.dat"), file));
        ConfigTable table;
        LayOutWithCode(table);
        const QByteArray before = WriteTableFile(table.Content());
        QSignalSpy resets(&table, &QAbstractItemModel::modelReset);
        QVERIFY(!table.LoadTable(Path("bad.dat")));
        QCOMPARE(resets.size(), 0);
        QCOMPARE(WriteTableFile(table.Content()), before);
        QCOMPARE(table.GetCellText(3, 1), QStringLiteral("AA BB CC "));
    }

    void missingFileAndFolderAreNotLoaded()
    {
        ConfigTable table;
        LayOutWithCode(table);
        QVERIFY(!table.LoadTable(Path("absent.dat")));
        QVERIFY(!table.LoadTable(dir.path()));
        QCOMPARE(table.GetCellText(3, 1), QStringLiteral("AA BB CC "));
    }

    void recordsOutsideTheTableAreIgnored()
    {
        BuiltFile f;
        f.rows = 4;
        f.columns = 2;
        f.widths = {10, 20};
        f.cells = {{1, 1, "ok"}, {4, 0, "row too far"}, {1, 2, "column too far"}, {-1, 0, "negative"}};
        f.lists[0] = {{9, 9, 0x123456}};
        f.lists[6] = {{0, 0, 0x10}, {0, 1, 0x10}, {1, 0, 0x10}, {2, 0, 0x10}, {3, 0, 0x10}};
        QByteArray bytes = f.Bytes();
        bytes += QByteArray(540, '\0');  // small shape: pad past the minimum size
        QVERIFY(WriteAll(Path("small.dat"), bytes));
        ConfigTable table;
        QVERIFY(table.LoadTable(Path("small.dat")));
        QCOMPARE(table.RowCount(), 4);
        QCOMPARE(table.ColumnCount(), 2);
        QCOMPARE(table.GetCellText(1, 1), QStringLiteral("ok"));
        QVERIFY(table.SaveTable(Path("small-saved.dat")));
        BuiltFile expected = f;
        expected.cells = {{1, 1, "ok"}};
        expected.lists[0].clear();
        QCOMPARE(ReadAll(Path("small-saved.dat")), expected.Bytes());
    }

    void everyShapeTheLoaderTakesIsWrittenSoItLoadsAgain()
    {
        // Empty to a few rows and columns, every count of fixed rows and
        // columns, with and without a text in the far corner.
        for (int rows = 0; rows <= 3; ++rows)
            for (int columns = 0; columns <= 3; ++columns)
                for (int fixedRows = 0; fixedRows <= rows; ++fixedRows)
                    for (int fixedColumns = 0; fixedColumns <= columns; ++fixedColumns)
                        for (bool text : {false, true}) {
                            TableContent t = NewTableContent(rows, columns);
                            t.fixedRows = fixedRows;
                            t.fixedColumns = fixedColumns;
                            if (text && rows > 0 && columns > 0) t.cells[{rows - 1, columns - 1}].text = QStringLiteral("AB");
                            const QByteArray written = WriteTableFile(t);
                            const QString shape = QStringLiteral("%1x%2 fixed %3/%4 text %5")
                                                      .arg(rows).arg(columns).arg(fixedRows).arg(fixedColumns).arg(text);
                            TableContent back;
                            QVERIFY2(ParseTableFile(written, back), qPrintable(shape));
                            QCOMPARE(back.rows, rows);
                            QCOMPARE(back.columns, columns);
                            QCOMPARE(back.fixedRows, fixedRows);
                            QCOMPARE(back.fixedColumns, fixedColumns);
                            QVERIFY2(WriteTableFile(back) == written, qPrintable(shape));
                        }

        // The smallest table through the program's own save and load: padded
        // with zero bytes to the minimum, and read back as a file it writes whole.
        BuiltFile tiny;
        tiny.rows = tiny.columns = 1;
        tiny.widths = {50};
        tiny.cells = {{0, 0, "x"}};
        tiny.lists[6] = {{0, 0, 0x10}};
        const QByteArray padded = tiny.Bytes() + QByteArray(540 - tiny.Bytes().size(), '\0');
        QVERIFY(WriteAll(Path("tiny.dat"), padded));
        ConfigTable table;
        bool whole = false;
        QVERIFY(table.LoadTable(Path("tiny.dat"), &whole));
        QVERIFY(whole);
        QVERIFY(table.SaveTable(Path("tiny-saved.dat")));
        QCOMPARE(ReadAll(Path("tiny-saved.dat")), padded);
        ConfigTable again;
        QVERIFY(again.LoadTable(Path("tiny-saved.dat")));
        QCOMPARE(again.GetCellText(0, 0), QStringLiteral("x"));
    }

    void loadTellsWhetherASaveWritesTheFileBackWhole()
    {
        const QByteArray own = RichFile().Bytes();
        BuiltFile outside = RichFile();
        outside.cells.append({97, 1, "below the last row"});
        BuiltFile repeated = RichFile();
        repeated.cells.append({1, 1, "aa bb"});
        const QList<QPair<QByteArray, bool>> files = {
            {own, true}, {own + QByteArray("trailing"), false}, {outside.Bytes(), false}, {repeated.Bytes(), false}};
        for (const auto& [bytes, expected] : files) {
            QVERIFY(WriteAll(Path("whole.dat"), bytes));
            ConfigTable table;
            bool whole = !expected;
            QVERIFY(table.LoadTable(Path("whole.dat"), &whole));
            QCOMPARE(whole, expected);
        }
    }

    // 450 000 records of 12 bytes, each on a cell of its own, would take over
    // ten times the file in memory: refused as such, the table unchanged. A
    // file as large of one long code loads.
    void aFileWhoseRecordsWouldTakeTooMuchMemoryIsRefused()
    {
        TableContent shape = NewTableContent(450000 / 4 + 1, 4);
        for (int i = 0; i < 450000; ++i) shape.cells[{1 + i / 4, i % 4}].textFormat = 0x825;
        const QByteArray file = WriteTableFile(shape);
        shape = TableContent();
        ConfigTable table;
        InitTable(table);
        TableFileProblem problem = TableFileProblem::None;
        QVERIFY(!table.LoadTableBytes(file, nullptr, &problem));
        QCOMPARE(problem, TableFileProblem::TooLargeInMemory);
        QCOMPARE(table.RowCount(), 97);
        table.SetCellText(1, 1, QStringLiteral("AB ").repeated(file.size() / 3));
        QVERIFY(table.LoadTableBytes(WriteTableFile(table.Content()), nullptr, &problem));
    }

    void failedSaveReportsFalseAndKeepsTheOldFile()
    {
        ConfigTable table;
        InitTable(table);
        QVERIFY(WriteAll(Path("plain-file"), "not a folder"));
        QVERIFY(!table.SaveTable(Path("plain-file/data.dat")));
        QVERIFY(!table.SaveTable(Path("missing-folder/data.dat")));
        QVERIFY(!QFileInfo::exists(Path("missing-folder")));
        QVERIFY(!table.SaveTable(dir.path()));

        // A save cut short (here by a file-size limit, which binds root too)
        // must leave the previous file whole and no temporary behind.
        const QByteArray old = RichFile().Bytes();
        QVERIFY(WriteAll(Path("keep.dat"), old));
        table.SetCellText(1, 1, QString(3000, QLatin1Char('A')));
        rlimit saved{};
        QVERIFY(getrlimit(RLIMIT_FSIZE, &saved) == 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved;
        limited.rlim_cur = 4096;
        QVERIFY(setrlimit(RLIMIT_FSIZE, &limited) == 0);
        const bool ok = table.SaveTable(Path("keep.dat"));
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        QVERIFY(!ok);
        QCOMPARE(ReadAll(Path("keep.dat")), old);
        QCOMPARE(QDir(dir.path()).entryList({"keep.dat*"}, QDir::Files | QDir::Hidden), QStringList{"keep.dat"});
    }
};

QTEST_GUILESS_MAIN(TableFileTest)
#include "test_tablefile.moc"
