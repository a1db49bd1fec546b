#include <QtTest>

#include "protocol/HexCodec.h"

class HexCodecTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void decodesSpacedLowerCaseAndSplitPairs()
    {
        HexProblem problem;
        QCOMPARE(HexToBytes(QStringLiteral("fd 66 aa ab dd bf"), &problem), QByteArray::fromHex("FD66AAABDDBF"));
        QCOMPARE(HexToBytes(QStringLiteral("  F D 6 6 ")), QByteArray::fromHex("FD66"));
        QCOMPARE(HexToBytes(QStringLiteral("\u3000A0\u3000"), &problem), QByteArray::fromHex("A0"));
        QVERIFY(!problem);
    }

    void emptyAndBlankGiveNothingWithoutAProblem()
    {
        HexProblem problem;
        QVERIFY(HexToBytes(QString(), &problem).isEmpty());
        QVERIFY(!problem);
        QVERIFY(HexToBytes(QStringLiteral("   \u3000 "), &problem).isEmpty());
        QVERIFY(!problem);
    }

    void reportsOddLengthAndTheFirstBadCharacter_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("bad");  // the bad character; null: an odd length
        const QString odd;
        QTest::newRow("odd") << "FD6" << odd;
        QTest::newRow("bad low") << "FG" << "G";
        QTest::newRow("lower bad low shows upper") << "fg" << "G";
        QTest::newRow("bad high first") << "XF" << "X";
        QTest::newRow("chinese counts two bytes") << "开" << "开";
        QTest::newRow("chinese plus one digit is odd") << "开A" << odd;
        QTest::newRow("inner full-width space") << "A\u3000BC" << odd;
        QTest::newRow("inner full-width space, even") << "AB\u3000CD" << "\u3000";
        QTest::newRow("tab is not a blank") << "A\tB0" << "\t";
    }
    void reportsOddLengthAndTheFirstBadCharacter()
    {
        QFETCH(QString, text);
        QFETCH(QString, bad);
        HexProblem problem;
        QVERIFY(HexToBytes(text, &problem).isEmpty());
        QCOMPARE(problem.kind, bad.isNull() ? HexProblem::Kind::OddLength : HexProblem::Kind::BadCharacter);
        QCOMPARE(problem.character, bad.isNull() ? QString() : bad);
    }

    void bytesToHexSpacesEveryByte()
    {
        QCOMPARE(BytesToHex(QByteArray::fromHex("0A")), QStringLiteral("0A "));
        QCOMPARE(BytesToHex(QByteArray::fromHex("FD66BF")), QStringLiteral("FD 66 BF "));
        QCOMPARE(BytesToHex(QByteArray()), QString());
    }

    void hexPairReadsUpperCaseDigitsOnly()
    {
        QCOMPARE(int(HexPairToByte(QStringLiteral("A5"))), 0xA5);
        QCOMPARE(int(HexPairToByte(QStringLiteral("a5"))), 0x05);
        QCOMPARE(int(HexPairToByte(QStringLiteral("ZZ"))), 0);
        QCOMPARE(int(HexPairToByte(QStringLiteral("F"))), 0xF0);
        QCOMPARE(int(HexPairToByte(QString())), 0);
    }
};

QTEST_GUILESS_MAIN(HexCodecTest)
#include "test_hexcodec.moc"
