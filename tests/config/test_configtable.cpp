#include <QtTest>

#include "config/ConfigTable.h"
#include "config/TableFile.h"

namespace {
QStringList ColumnTexts(const ConfigTable& t, int column)
{
    QStringList out;
    for (int r = 0; r < t.RowCount(); ++r) out << t.GetCellText(r, column);
    return out;
}

void FillCodes(ConfigTable& t)
{
    for (int r = 1; r < 97; ++r) {
        t.SetCellText(r, 1, QStringLiteral("%1 01").arg(r, 2, 16, QLatin1Char('0')));
        t.SetCellText(r, 2, QStringLiteral("%1 02").arg(r, 2, 16, QLatin1Char('0')));
    }
}
}  // namespace

class ConfigTableTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTableLaysOutTitlesHeadersAndWidths()
    {
        ConfigTable t;
        InitTable(t);
        QCOMPARE(t.RowCount(), 97);
        QCOMPARE(t.ColumnCount(), 3);
        QCOMPARE(t.GetCellText(1, 0), QStringLiteral("开关01控制"));
        QCOMPARE(t.GetCellText(2, 0), QStringLiteral("开关01反馈"));
        QCOMPARE(t.GetCellText(64, 0), QStringLiteral("开关32反馈"));
        QCOMPARE(t.GetCellText(65, 0), QStringLiteral("场景0"));
        QCOMPARE(t.GetCellText(75, 0), QStringLiteral("场景10"));
        QCOMPARE(t.GetCellText(96, 0), QStringLiteral("场景31"));
        QCOMPARE(t.GetCellText(0, 1), QStringLiteral("开"));
        QCOMPARE(t.GetCellText(0, 2), QStringLiteral("关"));
        QVERIFY(t.GetCellText(0, 0).isEmpty());
        for (int r = 1; r < 97; ++r) QVERIFY(t.GetCellText(r, 1).isEmpty() && t.GetCellText(r, 2).isEmpty());
        QCOMPARE(t.CellAlignment(0, 1), 2);
        QCOMPARE(t.CellAlignment(0, 2), 2);
        QCOMPARE(t.CellAlignment(0, 0), 0);
        QCOMPARE(t.CellAlignment(1, 0), 0);
        QCOMPARE(t.CellAlignment(1, 1), 0);
        QCOMPARE((QList<int>{t.ColumnWidth(0), t.ColumnWidth(1), t.ColumnWidth(2)}), (QList<int>{80, 315, 315}));
        QCOMPARE(t.RowHeight(0), 24);
        QCOMPARE(t.RowHeight(96), 24);
        const QModelIndex header = t.index(0, 1);
        QCOMPARE(t.data(header, Qt::TextAlignmentRole).toInt(), int(Qt::AlignHCenter | Qt::AlignVCenter));
    }

    void cellsOutsideTheTableAreRejected()
    {
        ConfigTable t;
        InitTable(t);
        QSignalSpy changes(&t, &QAbstractItemModel::dataChanged);
        QVERIFY(!t.SetCellText(97, 1, QStringLiteral("x")));
        QVERIFY(!t.SetCellText(1, 3, QStringLiteral("x")));
        QVERIFY(!t.SetCellText(-1, 1, QStringLiteral("x")));
        QVERIFY(!t.SetCellText(1, -1, QStringLiteral("x")));
        QCOMPARE(changes.size(), 0);
        QVERIFY(t.GetCellText(50, 5).isEmpty());
        QVERIFY(t.GetCellText(-1, 0).isEmpty());
        QVERIFY(t.GetCellText(97, 0).isEmpty());
        // Fixed cells are not protected.
        QVERIFY(t.SetCellText(0, 1, QStringLiteral("ON")));
        QCOMPARE(t.GetCellText(0, 1), QStringLiteral("ON"));
        QCOMPARE(t.CellAlignment(0, 1), 2);
        QCOMPARE(changes.size(), 1);
    }

    void codesKeepTheirSpacingAndCase()
    {
        ConfigTable t;
        QVERIFY(t.SetCellText(1, 1, QStringLiteral("aa bb")));
        QVERIFY(t.SetCellText(1, 2, QStringLiteral("AA BB ")));
        QCOMPARE(t.GetCellText(1, 1), QStringLiteral("aa bb"));
        QCOMPARE(t.GetCellText(1, 2), QStringLiteral("AA BB "));
    }

    void clearRangeCutsDownTheFarCornerAndRejectsBadRectangles()
    {
        ConfigTable t;
        InitTable(t);
        FillCodes(t);
        QVERIFY(!t.ClearRange(5, 1, 4, 2));
        QVERIFY(!t.ClearRange(1, 2, 96, 1));
        QVERIFY(!t.ClearRange(-1, 1, 96, 2));
        QVERIFY(!t.ClearRange(1, 1, -1, 2));
        QVERIFY(!t.ClearRange(97, 1, 200, 2));
        QVERIFY(!t.ClearRange(1, 3, 96, 9));
        QCOMPARE(t.GetCellText(5, 1), QStringLiteral("05 01"));
        QCOMPARE(t.GetCellText(96, 2), QStringLiteral("60 02"));

        const QStringList titles = ColumnTexts(t, 0);
        QVERIFY(t.ClearRange(1, 1, 200, 9));
        for (int r = 1; r < 97; ++r) QVERIFY(t.GetCellText(r, 1).isEmpty() && t.GetCellText(r, 2).isEmpty());
        QCOMPARE(ColumnTexts(t, 0), titles);
        QCOMPARE(t.GetCellText(0, 1), QStringLiteral("开"));

        FillCodes(t);
        QVERIFY(t.ClearRange(10, 2, 10, 2));
        QVERIFY(t.GetCellText(10, 2).isEmpty());
        QCOMPARE(t.GetCellText(10, 1), QStringLiteral("0a 01"));
        QCOMPARE(t.GetCellText(11, 2), QStringLiteral("0b 02"));
    }

    void rangeAlignmentChangesOnlyTheHorizontalPart()
    {
        ConfigTable t;
        InitTable(t);
        QVERIFY(!t.SetRangeAlignment(3, 1, 2, 2, 3));
        QVERIFY(!t.SetRangeAlignment(-1, 1, 2, 2, 3));
        QVERIFY(t.SetRangeAlignment(1, 1, 500, 1, 3));
        QCOMPARE(t.CellAlignment(1, 1), 3);
        QCOMPARE(t.CellAlignment(96, 1), 3);
        QCOMPARE(t.CellAlignment(1, 2), 0);
        QVERIFY(t.SetRangeAlignment(1, 1, 1, 1, 7));
        QCOMPARE(t.CellAlignment(1, 1), 0);
        // Formats as the file stores them: right 0x826, back to left 0x824, header 0x825.
        const TableContent& c = t.Content();
        QCOMPARE(c.cells.at({2, 1}).textFormat, 0x826u);
        QCOMPARE(c.cells.at({1, 1}).textFormat, 0x824u);
        QCOMPARE(c.cells.at({0, 2}).textFormat, 0x825u);
    }

    void columnWidthAndCurrentCellCheckTheirAddress()
    {
        ConfigTable t;
        QSignalSpy geometry(&t, &ConfigTable::geometryChanged);
        QSignalSpy current(&t, &ConfigTable::currentCellRequested);
        QVERIFY(!t.SetColumnWidth(3, 50));
        QVERIFY(!t.SetColumnWidth(-1, 50));
        QCOMPARE(geometry.size(), 0);
        QVERIFY(t.SetColumnWidth(2, 120));
        QCOMPARE(t.ColumnWidth(2), 120);
        QCOMPARE(geometry.size(), 1);
        QVERIFY(!t.SetCurrentCell(97, 1));
        QVERIFY(!t.SetCurrentCell(1, 3));
        QCOMPARE(current.size(), 0);
        QVERIFY(t.SetCurrentCell(40, 2));
        QCOMPARE(current.size(), 1);
        QCOMPARE(current.at(0), (QVariantList{40, 2}));
    }

    void modelEditsValueCellsOnly()
    {
        ConfigTable t;
        InitTable(t);
        QVERIFY(!(t.flags(t.index(0, 1)) & Qt::ItemIsEditable));
        QVERIFY(!(t.flags(t.index(5, 0)) & Qt::ItemIsEditable));
        QVERIFY(t.flags(t.index(5, 1)) & Qt::ItemIsEditable);
        QVERIFY(t.setData(t.index(5, 1), QStringLiteral("fd 01")));
        QCOMPARE(t.GetCellText(5, 1), QStringLiteral("fd 01"));
        QCOMPARE(t.data(t.index(5, 1)).toString(), QStringLiteral("fd 01"));
        QVERIFY(!t.setData(t.index(5, 1), QStringLiteral("x"), Qt::DisplayRole + 100));
    }

    void loadResetsTheModelToTheFileShape()
    {
        QTemporaryDir dir;
        // A table of another shape, written by the code under test only to be read back.
        TableContent content = NewTableContent(5, 4);
        content.cells[{4, 3}].text = QStringLiteral("corner");
        QFile f(dir.filePath("shape.dat"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(WriteTableFile(content) + QByteArray(600, '\0'));
        f.close();

        ConfigTable t;
        InitTable(t);
        QSignalSpy resets(&t, &QAbstractItemModel::modelReset);
        QVERIFY(t.LoadTable(f.fileName()));
        QCOMPARE(resets.size(), 1);
        QCOMPARE(t.rowCount(), 5);
        QCOMPARE(t.columnCount(), 4);
        QCOMPARE(t.GetCellText(4, 3), QStringLiteral("corner"));
        QVERIFY(t.GetCellText(1, 0).isEmpty());
        QCOMPARE(t.ColumnWidth(3), 200);
        QVERIFY(!t.SetCellText(5, 0, QStringLiteral("x")));
        QVERIFY(t.ClearRange(0, 0, 99, 99));
        QVERIFY(t.GetCellText(4, 3).isEmpty());
    }

    void saveEndsEditingBeforeWriting()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("t.dat");
        ConfigTable t;
        bool fileExistedWhenAsked = true;
        connect(&t, &ConfigTable::editingEndRequested, this, [&] {
            fileExistedWhenAsked = QFileInfo::exists(path);
            // What the view commits while ending its editor must reach the file.
            t.SetCellText(1, 1, QStringLiteral("from editor"));
        });
        QVERIFY(t.SaveTable(path));
        QVERIFY(!fileExistedWhenAsked);
        ConfigTable back;
        QVERIFY(back.LoadTable(path));
        QCOMPARE(back.GetCellText(1, 1), QStringLiteral("from editor"));
    }
};

QTEST_GUILESS_MAIN(ConfigTableTest)
#include "test_configtable.moc"
