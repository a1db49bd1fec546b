// velmora-cli against a module that misbehaves on the line: it confirms every
// code with a second dump (a third for what is still in doubt), and when it
// cannot, says so with exit status 6 and keeps the old output file.

#include <QtTest>

#include "CliRig.h"

class CliConfirmTest : public QObject {
    Q_OBJECT
    CliRig rig;

    // The simulator with the few codes (and `kept` lines) in its memory and
    // `manners`, its dump paced at 20 ms.
    void StartModule(const QStringList& manners, const QByteArray& kept = {})
    {
        rig.sims[0].Stop();
        QVERIFY(WriteMemory(rig.memories[0], FewCells()));
        QFile memory(rig.memories[0]);
        QVERIFY(memory.open(QIODevice::Append) && memory.write(kept) == kept.size());
        memory.close();
        rig.StartSim(0, QStringList{QStringLiteral("--pace"), QStringLiteral("20")} + manners);
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(QFile::exists(CliRig::Program())); }

    void readTakesOnlyConfirmedCodes_data()
    {
        QTest::addColumn<QStringList>("manners");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says");
        QTest::addColumn<int>("reads");
        const QStringList none;
        const QStringList once{QStringLiteral("--once")};
        QTest::newRow("a module that behaves") << none << none << 0 << "read 16 codes into out.csv, each confirmed by two dumps" << 2;
        // Each dump touches other records, so a third dump settles the codes
        // two left in doubt; but bytes that were no record came in every
        // dump, so none can vouch for an empty cell.
        QTest::newRow("pauses in marker, address and code") << QStringList{"--pause-in", "marker,address,mid-address,code", "--every", "3"}
                                                            << none << 6 << "not clear for 176 codes" << 3;
        // Noise right behind a code is more of it: a code that is not the one confirmed casts doubt around it, and with
        // every third record touched the dumps' doubtful stretches overlap.
        QTest::newRow("noise right behind records") << QStringList{"--noise-behind", "0", "--every", "3"} << none << 6 << "not clear for 176 codes" << 3;
        QTest::newRow("noise 50 ms behind records") << QStringList{"--noise-behind", "50", "--every", "3"} << none << 6
                                                    << "not clear for 176 codes" << 3;
        // A record lost to a corrupted marker, or after the dump end (the last record doubtful too): no empty cell is vouched for.
        QTest::newRow("a corrupted marker in the same records of every dump")
            << QStringList{"--pace", "50", "--corrupt-marker", "--every", "5", "--same-noise"} << none << 6 << "not clear for 182 codes" << 3;
        QTest::newRow("a record late") << QStringList{"--late-record", "20"} << none << 6 << "not clear for 178 codes" << 3;
        QTest::newRow("pauses in marker and address, once") << QStringList{"--pause-in", "marker,address", "--pause-for", "40"} << once << 0 << "read 16 codes" << 1;
        QTest::newRow("a pause in a code, once") << QStringList{"--pause-in", "code", "--every", "3"} << once << 6 << "not clear for" << 1;
        QTest::newRow("the same stray bytes in every dump") << QStringList{"--noise-behind", "40", "--same-noise", "--every", "5"} << none << 6
                                                            << "not clear for 179 codes (开关01反馈 关, 开关02控制 开, " << 3;
        QTest::newRow("stopped halfway") << QStringList{"--stop-after", "5"} << none << 5 << "stopped answering during the read" << 1;
        QTest::newRow("stopped halfway, stray bytes after") << QStringList{"--stop-after", "5", "--stray-every", "500"} << none << 5
                                                            << "stopped answering during the read" << 1;
        QTest::newRow("only a dump end") << QStringList{"--dump-end-only"} << none << 5 << "answered the read with a dump end alone" << 1;
        QTest::newRow("line dropped at the first frame") << QStringList{"--hang-up-at-frame", "1"} << none << 3
                                                         << "the port was lost during the read; nothing was written" << 0;
    }
    void readTakesOnlyConfirmedCodes()
    {
        QFETCH(QStringList, manners);
        QFETCH(QStringList, options);
        QFETCH(int, status);
        QFETCH(QString, says);
        QFETCH(int, reads);
        StartModule(manners);
        QVERIFY(WriteAll(rig.Path("out.csv"), "the old file"));
        const CliRun run = rig.Cli(QStringList{"read", rig.links[0], "-o", "out.csv"} + options);
        QVERIFY2(run.status == status && run.err.contains(says), qPrintable(QString::number(run.status) + QLatin1Char(' ') + run.err));
        QCOMPARE(ReadAll(rig.Path("out.csv")), status == 0 ? CsvWith(CodesIn(FewCells())) : QByteArray("the old file"));
        QTRY_COMPARE(rig.sims[0].Count(QStringLiteral("recv read")), reads);
    }

    // write --verify reads back as verify does: a code the upload left in
    // the module is a difference, stray bytes behind the same code in every
    // dump are no answer at all.
    void writeVerifyReadsTheModuleBack_data()
    {
        QTest::addColumn<QStringList>("manners");
        QTest::addColumn<QByteArray>("kept");  // a code the module holds beside the few
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("differences");
        QTest::newRow("every code as written") << QStringList{} << QByteArray() << 0 << QByteArray();
        QTest::newRow("a code the upload left") << QStringList{} << QByteArray("96 1 55\n") << 1
                                                << QStringLiteral("\t场景31\t开\t(none)\t55\n").toUtf8();
        QTest::newRow("the same stray bytes in every dump") << QStringList{"--noise-behind", "40", "--same-noise", "--every", "5"}
                                                            << QByteArray() << 6 << QByteArray();
        // Both echoes are known answers, however close: the upload goes ahead.
        QTest::newRow("every echo twice, 10 ms apart") << QStringList{"--echo-again", "10"} << QByteArray() << 0 << QByteArray();
    }
    void writeVerifyReadsTheModuleBack()
    {
        QFETCH(QStringList, manners);
        QFETCH(int, status);
        QFETCH(QByteArray, kept);
        QFETCH(QByteArray, differences);
        StartModule(manners, kept);
        QVERIFY(WriteAll(rig.Path("few.csv"), CsvWith(CodesIn(FewCells()))));
        const CliRun run = rig.Cli({"write", rig.links[0], "few.csv", "--verify"});
        QVERIFY2(run.status == status, qPrintable(run.err));
        QVERIFY2(run.err.contains(QStringLiteral(": wrote 16 codes; ")), qPrintable(run.err));
        QCOMPARE(run.out, differences.isEmpty() ? QByteArray() : rig.links[0].toUtf8() + differences);
    }

    // A line that only sends back what it is sent is no module.
    void aClearOnALoopbackFails()
    {
        StartModule({"--loopback"});
        const CliRun run = rig.Cli({"clear", rig.links[0]});
        QVERIFY2(run.status == 5 && run.err.contains("the module did not echo the enter frame within 1 s (the line sends back what it is sent: "), qPrintable(run.err));
    }

    // Codes a read cannot frame by itself (F4 F7 and an address inside) are
    // said as the file is read, and verify still finds the module holds them.
    void verifyChecksCodesAReadCannotFrame()
    {
        StartModule({});
        QMap<Cell, QString> codes = CodesIn(FewCells());
        codes[{1, 1}] = QStringLiteral("AA F4 F7 02 02 BB");  // a value cell's address
        codes[{3, 1}] = QStringLiteral("55 F4 F7 61 01 99");  // no value cell's
        QVERIFY(WriteAll(rig.Path("odd.csv"), CsvWith(codes)));
        const CliRun run = rig.Cli({"write", rig.links[0], "odd.csv", "--verify"});
        QVERIFY2(run.status == 0 && run.err.count(QStringLiteral("a read of the module cannot bring this code back whole")) == 2, qPrintable(run.err));
    }
};

QTEST_MAIN(CliConfirmTest)
#include "test_cli_confirm.moc"
