#include <QtTest>

#include "FrameReader.h"
#include "ModuleMemory.h"

// The simulator's own bookkeeping, which the end-to-end tests trust.
class SimulatorTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void uploadSlotsLandInTheirRows_data()
    {
        QTest::addColumn<int>("block");
        QTest::addColumn<int>("slot");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("column");
        QTest::newRow("switch 1 control on") << 1 << 1 << 1 << 1;
        QTest::newRow("switch 32 control off") << 1 << 64 << 63 << 2;
        QTest::newRow("scene 0 off") << 2 << 33 << 65 << 2;
        QTest::newRow("scene 31 on") << 2 << 32 << 96 << 1;
        QTest::newRow("switch 1 feedback off") << 3 << 33 << 2 << 2;
        QTest::newRow("switch 32 feedback off") << 3 << 64 << 64 << 2;
        QTest::newRow("slot 0") << 1 << 0 << 0 << 0;
        QTest::newRow("slot 65") << 1 << 65 << 0 << 0;
        QTest::newRow("outside a block") << 0 << 5 << 0 << 0;
    }
    void uploadSlotsLandInTheirRows()
    {
        QFETCH(int, block);
        QFETCH(int, slot);
        QFETCH(int, row);
        QFETCH(int, column);
        const MemoryCell cell = SlotCell(block, slot);
        QCOMPARE(cell.row, row);
        QCOMPARE(cell.column, column);
    }

    void controlFramesAreCutByShapeRecordsByQuiet()
    {
        FrameReader reader;
        const QByteArray enter = QByteArray::fromHex("FD66666666AAAAAABF");
        const QByteArray begin = QByteArray::fromHex("FD66666666AAABA1BF");
        QVERIFY(reader.Feed(enter.left(4)).isEmpty());
        QCOMPARE(reader.Feed(enter.mid(4) + begin), (QList<QByteArray>{enter, begin}));
        QVERIFY(!reader.HasPending());

        const QByteArray record = QByteArray::fromHex("F7F421FD666666");  // a code that looks like a frame's start
        QVERIFY(reader.Feed(record).isEmpty());
        QCOMPARE(reader.Flush(), record);
        QVERIFY(reader.Flush().isEmpty());
    }

    void memoryFileKeepsCodesAndRefusesBadLines()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("memory.txt"));
        ModuleMemory memory;
        QString error;
        QVERIFY(memory.Load(path, &error));  // absent file: empty memory
        QCOMPARE(memory.Count(), 0);
        memory.Store({65, 2}, QByteArray::fromHex("0A0B"));
        memory.Store({1, 1}, QByteArray::fromHex("11"));
        memory.Store({2, 1}, QByteArray::fromHex("22"));
        memory.Store({0, 0}, QByteArray::fromHex("33"));  // no place: ignored
        QVERIFY(memory.Save(&error));

        ModuleMemory again;
        QVERIFY(again.Load(path, &error));
        QCOMPARE(again.Count(), 3);
        QCOMPARE(again.Code(65, 2), QByteArray::fromHex("0A0B"));
        // Dumped in the order the progress bar climbs: control, feedback, scenes.
        const QList<StoredCode> order = again.DumpOrder();
        QCOMPARE(order.size(), 3);
        QCOMPARE(order.at(0).row, 1);
        QCOMPARE(order.at(1).row, 2);
        QCOMPARE(order.at(2).row, 65);

        QFile f(path);
        QVERIFY(f.open(QIODevice::Append));
        f.write("97 1 AA\n");
        f.close();
        QVERIFY(!again.Load(path, &error));
        QVERIFY(error.contains(QStringLiteral(":5:")));
    }
};

QTEST_GUILESS_MAIN(SimulatorTest)
#include "test_sim.moc"
