#include <QtTest>

#include "protocol/Frames.h"
#include "protocol/HexCodec.h"
#include "tests/support/OpenPortRig.h"

// A window whose message loop wakes early (a receive tick every 7 ms).
class EarlyWakingUi : public FakeUiServices {
public:
    void DeliverMessages(int waitMs) override
    {
        ++deliverCalls;
        clock += quint32(qMin(waitMs, 7));
    }
};

class FramesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void variableFramesAreByteExact_data()
    {
        QTest::addColumn<QString>("frame");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("9600") << SetBaudFrame(9600) << QByteArray::fromHex("FD666666DF002580BF");
        QTest::newRow("19200") << SetBaudFrame(19200) << QByteArray::fromHex("FD666666DF004B00BF");
        QTest::newRow("38400") << SetBaudFrame(38400) << QByteArray::fromHex("FD666666DF009600BF");
        QTest::newRow("57600") << SetBaudFrame(57600) << QByteArray::fromHex("FD666666DF00E100BF");
        QTest::newRow("115200") << SetBaudFrame(115200) << QByteArray::fromHex("FD666666DF01C200BF");
        QTest::newRow("record 0x21") << CodeRecord(0x21, QStringLiteral("12 34")) << QByteArray::fromHex("F7F4211234");
        QTest::newRow("record 0x01") << CodeRecord(1, QStringLiteral("ab")) << QByteArray::fromHex("F7F401AB");
        QTest::newRow("learn") << LearnReportFrame(QStringLiteral("01020a")) << QByteArray::fromHex("FD495201020A");
        QTest::newRow("block 3 end") << BlockEndFrame(3) << QByteArray::fromHex("FD66666666AAABB3BF");
        QTest::newRow("dump end") << DumpEndFrame << QByteArray::fromHex("FD66666666AAABDEBF");
    }
    void variableFramesAreByteExact()
    {
        QFETCH(QString, frame);
        QFETCH(QByteArray, bytes);
        HexProblem problem;
        QCOMPARE(HexToBytes(frame, &problem), bytes);
        QVERIFY(!problem);
    }

    void sendFrameWritesOnceAndReturnsTheWriteResult()
    {
        OpenPortRig rig;
        QCOMPARE(rig.p.link.SendFrame(EnterConfigFrame), 9);
        rig.port.writeResult = 4;  // a short write is passed on as it is
        QCOMPARE(rig.p.link.SendFrame(ExitConfigFrame), 4);
        rig.port.writeResult = -2;
        QCOMPARE(rig.p.link.SendFrame(QString()), 0);            // empty: a zero-length write
        QCOMPARE(rig.p.link.SendFrame(QStringLiteral("F7F40")), 0);  // bad text: its box, then zero length
        rig.port.portIsOpen = false;
        QCOMPARE(rig.p.link.SendFrame(EnterConfigFrame), -1);
        QCOMPARE(rig.port.calls,
                 QStringList({"sio_write(3,9)", "sio_write(3,9)", "sio_write(3,0)", "sio_write(3,0)", "sio_write(3,9)"}));
        QCOMPARE(rig.ui.BoxTexts(), QStringList{"十六进制数据长度必须是偶数"});
        QCOMPARE(FakeSerialProvider::Spaced(rig.port.writes.at(1).bytes), QStringLiteral("FD 66 66 66 66 AA AA BB BF"));
    }

    void sendFrameWritesNothingOnceTheWindowCloses()
    {
        OpenPortRig rig;
        rig.p.state.shuttingDown = true;
        QCOMPARE(rig.p.link.SendFrame(EnterConfigFrame), -1);
        QVERIFY(rig.port.writes.isEmpty());
    }

    void nonPositiveDelayDeliversNothing()
    {
        OpenPortRig rig;
        rig.p.link.Delay(0);
        rig.p.link.Delay(-20);
        QCOMPARE(rig.ui.deliverCalls, 0);
        QCOMPARE(rig.ui.clock, 1000u);
    }

    void delayNeverEndsBeforeItsDeadline_data()
    {
        QTest::addColumn<quint32>("start");
        QTest::addColumn<int>("ms");
        QTest::newRow("100") << 1000u << 100;
        QTest::newRow("1") << 1000u << 1;
        QTest::newRow("across the 32-bit wrap") << 0xFFFFFFF0u << 100;
    }
    void delayNeverEndsBeforeItsDeadline()
    {
        QFETCH(quint32, start);
        QFETCH(int, ms);
        EarlyWakingUi ui;
        FakeSerialProvider port(&ui);
        SerialLibrary serial(FatalReportTo(ui), {&port});
        ConfigTable table;
        WindowProgram window(ui, serial, table);
        ui.clock = start;
        window.session.Link().Delay(ms);
        const quint32 passed = ui.clock - start;
        QVERIFY2(passed >= quint32(ms) && passed <= quint32(ms) + 7, qPrintable(QString::number(passed)));
        QVERIFY(ui.deliverCalls >= ms / 7);  // kept delivering messages throughout
    }

    void delayEndsAtOnceWhenTheWindowCloses()
    {
        OpenPortRig rig;
        rig.ui.onDeliver = [&] { rig.p.state.shuttingDown = true; };
        rig.p.link.Delay(5000);
        QCOMPARE(rig.ui.deliverCalls, 1);
        rig.p.link.Delay(100);
        QCOMPARE(rig.ui.deliverCalls, 1);
    }
};

QTEST_GUILESS_MAIN(FramesTest)
#include "test_frames.moc"
