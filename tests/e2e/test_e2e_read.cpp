// The window reads the module simulator at every manner a module or an
// adapter may have: rates, pacing, answers in pieces, noise.

#include <QMenu>

#include "WindowOnSim.h"
#include "ui/ConfigGridView.h"

class ReadTest : public QObject {
    Q_OBJECT
    WindowOnSim m;

private Q_SLOTS:
    void initTestCase() { m.Open({}); }

    // A few codes are enough to see a manner handled; one read of every
    // code shows each lands in its own cell. How the quiet time frames
    // answers is tried at a fake clock (test_receive); here the manners of
    // a line that no busy machine can change.
    void readBringsBackEveryCode_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<QStringList>("manners");
        QTest::addColumn<bool>("everyCell");
        QTest::addColumn<bool>("atLineRate");
        QTest::newRow("9600, bytes at the line's rate") << 9600 << QStringList{} << false << true;
        QTest::newRow("115200, all 192 codes") << 115200 << QStringList{QStringLiteral("--pace"), QStringLiteral("10")} << true << false;
        QTest::newRow("9600, slow pacing") << 9600 << QStringList{QStringLiteral("--pace"), QStringLiteral("150")} << false << false;
        QTest::newRow("9600, every answer in two writes") << 9600 << QStringList{QStringLiteral("--pieces"), QStringLiteral("2")} << false << false;
        QTest::newRow("115200, answers in five pieces") << 115200 << QStringList{QStringLiteral("--pieces"), QStringLiteral("5")} << false << false;
        QTest::newRow("9600, pauses in the marker and the address")
            << 9600 << QStringList{QStringLiteral("--pause-in"), QStringLiteral("marker,address,mid-address"), QStringLiteral("--pause-for"), QStringLiteral("40")}
            << false << false;
        // Records closer than the quiet time, down to none at all, still come apart.
        QTest::newRow("115200, 20 ms between records") << 115200 << QStringList{QStringLiteral("--pace"), QStringLiteral("20")} << false << false;
        for (int rate : {9600, 115200})
            QTest::addRow("%d, records back to back", rate) << rate << QStringList{QStringLiteral("--back-to-back")} << false << false;
    }
    void readBringsBackEveryCode()
    {
        QFETCH(int, rate);
        QFETCH(QStringList, manners);
        QFETCH(bool, everyCell);
        QFETCH(bool, atLineRate);
        const QList<Cell> cells = everyCell ? AllCells() : FewCells();
        QVERIFY(WriteMemory(m.memory, cells));
        m.Connect(rate, manners, atLineRate ? WindowOnSim::Bytes::AtLineRate : WindowOnSim::Bytes::Whole);
        m.Read(60000);
        m.ExpectTable(cells);
        QVERIFY(m.rig->program.link.Reading().End() == ReadEnd::Complete);
        // The header row and the title column are left as laid out.
        QCOMPARE(m.rig->table.GetCellText(0, 1), QStringLiteral("开"));
        QCOMPARE(m.rig->table.GetCellText(96, 0), QStringLiteral("场景31"));
    }

    // Stray bytes after a pause end the code before them: the read completes
    // and one line says how many codes may be wrong, and that empty cells
    // may have missed theirs. The pauses are long, so that no busy moment of
    // the machine can hide one.
    void doubtfulCodesAreSaid_data()
    {
        QTest::addColumn<QStringList>("manners");
        QTest::addColumn<bool>("codesRight");
        QTest::newRow("noise behind every record") << QStringList{"--noise-behind", "300", "--pace", "300"} << true;
        QTest::newRow("a pause in every code") << QStringList{"--pause-in", "code", "--pause-for", "300", "--pace", "300"} << false;
    }
    void doubtfulCodesAreSaid()
    {
        QFETCH(QStringList, manners);
        QFETCH(bool, codesRight);
        const QList<Cell> cells{{1, 1}, {1, 2}, {65, 1}};
        QVERIFY(WriteMemory(m.memory, cells));
        m.Connect(9600, manners);
        m.ReadOnce(60000);
        QVERIFY2(m.rig->Log().contains(QRegularExpression(QStringLiteral("数据提取完成\r\n有 [23] 个代码可能有误，空白的单元格也可能漏了代码，请重新读取\r\n可能有误的代码：[^\r]+\r\n$"))),
                 qPrintable(m.rig->Log().right(400)));
        if (codesRight) m.ExpectTable(cells);
    }

    // F7 through the grid's menu: the table stays as it was, the log says
    // what differs, the marks show it; the module's codes go in as one step.
    void compareMarksWhatDiffers()
    {
        const QList<Cell> cells{{1, 1}, {1, 2}, {65, 1}};
        QVERIFY(WriteMemory(m.memory, cells));
        m.Connect(115200, {QStringLiteral("--pace"), QStringLiteral("10")});
        ProgramRig& rig = *m.rig;
        ConfigGridView& grid = *rig.window->Grid();
        const auto menuEntry = [&](const char* name) { return std::unique_ptr<QMenu>(grid.MakeContextMenu())->findChild<QAction*>(QLatin1String(name)) != nullptr; };
        const auto compare = [&] { std::unique_ptr<QMenu>(grid.MakeContextMenu())->findChild<QAction*>(QStringLiteral("compare"))->trigger(); };
        rig.EmptyTable();
        rig.FillTable({{1, 1}});
        rig.table.SetCellText(1, 2, QStringLiteral("00"));
        rig.table.SetCellText(2, 1, QStringLiteral("AB"));
        rig.table.SetCellText(3, 1, QStringLiteral("XYZ"));
        const QStringList before = rig.ValueCells();
        compare();
        QCOMPARE(rig.ValueCells(), before);
        QVERIFY2(rig.Log().endsWith(QStringLiteral("有 4 个代码与模块不同：开关01控制 关、开关01反馈 开、开关02控制 开、场景0 开\r\n")), qPrintable(rig.Log().right(300)));
        QVERIFY(rig.ModuleButtonsEnabled() && !rig.program.document.Held());
        QCOMPARE(rig.table.GetCellMark(1, 1).kind, CellMarkKind::None);
        QCOMPARE(rig.table.GetCellMark(1, 2).moduleCode, CellTextFor(1, 2));
        QCOMPARE(rig.table.GetCellMark(2, 1).note, QStringLiteral("模块中为空"));
        QVERIFY(rig.table.GetCellMark(3, 1).note.startsWith(QStringLiteral("表中不是代码")));
        QCOMPARE(rig.table.GetCellMark(65, 1).kind, CellMarkKind::Differs);

        // The module's codes into two marked cells, undone together.
        grid.setCurrentIndex(grid.IndexOfCell(1, 2));
        grid.selectionModel()->select(QItemSelection(grid.IndexOfCell(1, 1), grid.IndexOfCell(2, 2)), QItemSelectionModel::ClearAndSelect);
        QVERIFY(menuEntry("useModuleCode"));
        grid.UseModuleCodes();
        QCOMPARE(rig.table.GetCellText(1, 2), CellTextFor(1, 2));
        QCOMPARE(rig.table.GetCellText(2, 1), QString());
        QCOMPARE(rig.table.GetCellMark(2, 1).kind, CellMarkKind::None);
        grid.UndoStep();
        QCOMPARE(rig.ValueCells(), before);
        QVERIFY(!menuEntry("useModuleCode"));
        QTest::keyClick(&grid, Qt::Key_Escape);
        QVERIFY(!rig.table.HasCellMarks());

        // After a write the log tells of F7, once; the module then holds the table.
        rig.EmptyTable();
        rig.FillTable(cells);
        for (int write = 0; write < 2; ++write) {
            QVERIFY(rig.Click(Control::Button_WriteModule));
            QVERIFY(RunUntil([&] { return rig.LogCount(QStringLiteral("写入完成")) > write; }, 20000));
        }
        QCOMPARE(rig.LogCount(QStringLiteral("写入完成，共发送 3 个代码\r\n按 F7 与模块比较\r\n")), 1);
        compare();
        QVERIFY2(rig.Log().endsWith(QStringLiteral("模块与配置表一致（共 3 个代码）\r\n")), qPrintable(rig.Log().right(300)));
        QVERIFY(!rig.table.HasCellMarks());

        // No module on the line: what a read says, nothing given back, no mark.
        m.Connect(115200, {QStringLiteral("--loopback")});
        rig.table.SetCellText(1, 2, QStringLiteral("00"));
        compare();
        QVERIFY2(rig.Log().endsWith(QStringLiteral("模块无应答\r\n请检查 波特率: 是否与模块一致、端口是否选对、模块是否通电\r\n")),
                 qPrintable(rig.Log().right(300)));
        QVERIFY(!rig.table.HasCellMarks() && rig.ModuleButtonsEnabled() && !rig.program.document.Held());
    }
};

QTEST_MAIN(ReadTest)
#include "test_e2e_read.moc"
