#include <QtTest>

#include "protocol/HexCodec.h"
#include "tests/support/FakeUiServices.h"

class HexCodecTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void decodesSpacedLowerCaseAndSplitPairs()
    {
        FakeUiServices ui;
        QCOMPARE(HexToBytes(ui, QStringLiteral("fd 66 aa ab dd bf")), QByteArray::fromHex("FD66AAABDDBF"));
        QCOMPARE(HexToBytes(ui, QStringLiteral("  F D 6 6 ")), QByteArray::fromHex("FD66"));
        QCOMPARE(HexToBytes(ui, QStringLiteral("\u3000A0\u3000")), QByteArray::fromHex("A0"));
        QVERIFY(ui.boxes.isEmpty());
    }

    void emptyAndBlankGiveNothingWithoutABox()
    {
        FakeUiServices ui;
        QVERIFY(HexToBytes(ui, QString()).isEmpty());
        QVERIFY(HexToBytes(ui, QStringLiteral("   \u3000 ")).isEmpty());
        QVERIFY(ui.boxes.isEmpty());
    }

    void reportsOddLengthAndTheFirstBadCharacter_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("box");
        QTest::newRow("odd") << "FD6" << "十六进制数据长度必须是偶数";
        QTest::newRow("bad low") << "FG" << "无效的十六进制字符: G";
        QTest::newRow("lower bad low shows upper") << "fg" << "无效的十六进制字符: G";
        QTest::newRow("bad high first") << "XF" << "无效的十六进制字符: X";
        QTest::newRow("chinese counts two bytes") << "开" << "无效的十六进制字符: 开";
        QTest::newRow("chinese plus one digit is odd") << "开A" << "十六进制数据长度必须是偶数";
        QTest::newRow("inner full-width space") << "A\u3000BC" << "十六进制数据长度必须是偶数";
        QTest::newRow("inner full-width space, even") << "AB\u3000CD" << "无效的十六进制字符: \u3000";
        QTest::newRow("tab is not a blank") << "A\tB0" << "无效的十六进制字符: \t";
    }
    void reportsOddLengthAndTheFirstBadCharacter()
    {
        QFETCH(QString, text);
        QFETCH(QString, box);
        FakeUiServices ui;
        QVERIFY(HexToBytes(ui, text).isEmpty());
        QCOMPARE(ui.boxes.size(), 1);
        QCOMPARE(ui.boxes.at(0).text, box);
        QCOMPARE(ui.boxes.at(0).caption, QStringLiteral("错误"));
        QCOMPARE(ui.boxes.at(0).flags, 0);
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
