// The window reads the module simulator at every manner a module or an
// adapter may have: rates, pacing, answers in pieces, noise.

#include "WindowOnSim.h"

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
};

QTEST_MAIN(ReadTest)
#include "test_e2e_read.moc"
