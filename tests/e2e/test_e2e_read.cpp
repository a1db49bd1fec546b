// The window reads the module simulator at every manner a module or an
// adapter may have: rates, pacing, answers in pieces, noise.

#include "WindowOnSim.h"

class ReadTest : public QObject {
    Q_OBJECT
    WindowOnSim m;

private Q_SLOTS:
    void initTestCase() { m.Open({}); }

    // A few codes are enough to see a manner handled; one read of every
    // code shows each lands in its own cell.
    void readBringsBackEveryCode_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<QStringList>("manners");
        QTest::addColumn<bool>("everyCell");
        QTest::newRow("9600, every answer in two writes") << 9600 << QStringList{QStringLiteral("--pieces"), QStringLiteral("2")} << false;
        QTest::newRow("115200, all 192 codes") << 115200 << QStringList{} << true;
        QTest::newRow("9600, slow pacing") << 9600 << QStringList{QStringLiteral("--pace"), QStringLiteral("150")} << false;
        QTest::newRow("115200, answers in five pieces") << 115200 << QStringList{QStringLiteral("--pieces"), QStringLiteral("5")} << false;
        QTest::newRow("115200, noise ahead of answers") << 115200 << QStringList{QStringLiteral("--noise"), QStringLiteral("3")} << false;
        QTest::newRow("9600, pauses in the marker and the address")
            << 9600 << QStringList{QStringLiteral("--pause-in"), QStringLiteral("marker,address,mid-address")} << false;
        // Records closer than the quiet time, down to none at all, still
        // come apart; so does an answer an adapter hands over in two pieces.
        for (int rate : {9600, 115200}) {
            for (const char* pace : {"20", "12"})
                QTest::addRow("%d, %s ms between records", rate, pace)
                    << rate << QStringList{QStringLiteral("--pace"), QString::fromLatin1(pace)} << false;
            QTest::addRow("%d, records back to back", rate) << rate << QStringList{QStringLiteral("--back-to-back")} << false;
            QTest::addRow("%d, every answer in two pieces 16 ms apart", rate)
                << rate << QStringList{QStringLiteral("--pace"), QStringLiteral("20"), QStringLiteral("--pieces"), QStringLiteral("2"),
                                       QStringLiteral("--piece-gap"), QStringLiteral("16")} << false;
        }
    }
    void readBringsBackEveryCode()
    {
        QFETCH(int, rate);
        QFETCH(QStringList, manners);
        QFETCH(bool, everyCell);
        const QList<Cell> cells = everyCell ? AllCells() : FewCells();
        QVERIFY(WriteMemory(m.memory, cells));
        m.Connect(rate, manners);
        m.Read(60000);
        m.ExpectTable(cells);
        QVERIFY(m.rig->program.link.Reading().End() == ReadEnd::Complete);
        // The header row and the title column are left as laid out.
        QCOMPARE(m.rig->table.GetCellText(0, 1), QStringLiteral("开"));
        QCOMPARE(m.rig->table.GetCellText(96, 0), QStringLiteral("场景31"));
    }

    // Stray bytes after a pause end the code before them: the read completes
    // and one line says how many codes may be wrong, and that empty cells
    // may have missed theirs.
    void doubtfulCodesAreSaid_data()
    {
        QTest::addColumn<QStringList>("manners");
        QTest::addColumn<bool>("codesRight");
        // Past the quiet time, with room for a busy machine waking up late.
        QTest::newRow("noise 50 ms behind every record") << QStringList{QStringLiteral("--noise-behind"), QStringLiteral("50")} << true;
        QTest::newRow("a pause in every code") << QStringList{QStringLiteral("--pause-in"), QStringLiteral("code")} << false;
    }
    void doubtfulCodesAreSaid()
    {
        QFETCH(QStringList, manners);
        QFETCH(bool, codesRight);
        QVERIFY(WriteMemory(m.memory, FewCells()));
        m.Connect(9600, manners);
        m.Read(60000);
        QVERIFY2(m.rig->Log().contains(QRegularExpression(QStringLiteral("数据提取完成\r\n有 1[56] 个代码可能有误，空白的单元格也可能漏了代码，请重新读取\r\n$"))),
                 qPrintable(m.rig->Log().right(400)));
        if (codesRight) m.ExpectTable(FewCells());
    }
};

QTEST_MAIN(ReadTest)
#include "test_e2e_read.moc"
