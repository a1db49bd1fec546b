#include <QtTest>

#include "FrameReader.h"
#include "ModuleMemory.h"

namespace {

QList<QByteArray> FromHex(const QStringList& texts)
{
    QList<QByteArray> bytes;
    for (const QString& t : texts) bytes << QByteArray::fromHex(t.toLatin1());
    return bytes;
}

}  // namespace

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

    void framesAreCutByTheirStructure_data()
    {
        QTest::addColumn<QStringList>("reads");
        QTest::addColumn<QStringList>("frames");
        QTest::addColumn<QString>("rest");  // what the quiet ends
        QTest::newRow("control frames across reads") << QStringList{"FD666666", "66AAAAAABF" "FD66666666AAABA1BF"}
                                                     << QStringList{"FD66666666AAAAAABF", "FD66666666AAABA1BF"} << "";
        QTest::newRow("two records in one read") << QStringList{"F7F423071122334455" "F7F424076677"}
                                                 << QStringList{"F7F423071122334455"} << "F7F424076677";
        QTest::newRow("record and block end") << QStringList{"F7F4401122" "FD66666666AAABB1BF"}
                                              << QStringList{"F7F4401122", "FD66666666AAABB1BF"} << "";
        QTest::newRow("record, learn report, record") << QStringList{"F7F40111" "FD4952AA" "F7F40222"}
                                                      << QStringList{"F7F40111", "FD4952AA"} << "F7F40222";
        QTest::newRow("stray bytes, control frame") << QStringList{"0102" "FD66666666AAAAAABF"}
                                                    << QStringList{"0102", "FD66666666AAAAAABF"} << "";
        QTest::newRow("next record not sure yet") << QStringList{"F7F40111", "F7F402", "22"} << QStringList{"F7F40111"} << "F7F40222";
        QTest::newRow("code like a frame's start") << QStringList{"F7F421FD666666"} << QStringList{} << "F7F421FD666666";
        QTest::newRow("code with F7 F4, slot past 40") << QStringList{"F7F40111F7F44111"} << QStringList{} << "F7F40111F7F44111";
        QTest::newRow("code with a frame but no end byte")
            << QStringList{"F7F40111FD66666666AAABB100"} << QStringList{} << "F7F40111FD66666666AAABB100";
    }
    void framesAreCutByTheirStructure()
    {
        QFETCH(QStringList, reads);
        QFETCH(QStringList, frames);
        QFETCH(QString, rest);
        FrameReader reader;
        QList<QByteArray> got;
        for (const QByteArray& read : FromHex(reads)) got += reader.Feed(read);
        QCOMPARE(got, FromHex(frames));
        QCOMPARE(reader.Flush(), QByteArray::fromHex(rest.toLatin1()));
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
