// The line to the module goes away in the middle of a read, an upload and a
// clear: the simulator drops it for a while, or is killed and its end is gone
// for good. The program closes the port, keeps the table as it was before
// the operation, writes nothing more, and reads the module again once it is
// back and the port is reopened.

#include "WindowOnSim.h"

class LostLineTest : public QObject {
    Q_OBJECT
    WindowOnSim m;

private Q_SLOTS:
    void initTestCase() { m.Open(FewCells()); }

    void losingTheLineClosesThePort_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<bool>("killed");
        for (const char* operation : {"read", "upload", "clear"}) {
            QTest::addRow("%s, line dropped", operation) << QString::fromLatin1(operation) << false;
            QTest::addRow("%s, simulator killed", operation) << QString::fromLatin1(operation) << true;
        }
    }
    void losingTheLineClosesThePort()
    {
        QFETCH(QString, operation);
        QFETCH(bool, killed);
        const bool read = operation == QLatin1String("read");
        const bool upload = operation == QLatin1String("upload");
        // The line drops after the sixth record of a read, at the sixth code
        // of an upload, or at the clear frame; the simulator is killed there
        // too (a read it is killed in goes slowly enough to be killed well
        // before its sixteenth code).
        QStringList manners{QStringLiteral("--hang-up-for"), QStringLiteral("1500")};
        if (!killed) {
            manners << (read ? QStringLiteral("--hang-up-after") : QStringLiteral("--hang-up-at-frame"))
                    << (read ? QStringLiteral("6") : upload ? QStringLiteral("8") : QStringLiteral("2"));
        } else if (read) {
            manners << QStringLiteral("--pace") << QStringLiteral("200");
        }
        m.Connect(9600, manners);
        m.rig->EmptyTable();
        if (!read) m.rig->FillTable(FewCells());
        else m.rig->table.SetCellText(1, 1, QStringLiteral("12 34 "));
        const QStringList before = m.rig->ValueCells();
        const int ends = m.rig->LogCount(QStringLiteral("数据提取完成\r\n"));
        const int losses = m.rig->LogCount(QStringLiteral("端口已断开: COM"));
        // An upload and a clear run inside the click: the simulator is killed
        // from a timer that runs in the operation's pauses.
        QTimer killer;
        if (killed) {
            QObject::connect(&killer, &QTimer::timeout, [&] {
                if (read ? m.rig->RightCells() < 6
                         : m.sim.Count(upload ? QStringLiteral("recv record block") : QStringLiteral("recv clear")) < (upload ? 6 : 1))
                    return;
                killer.stop();
                m.sim.Kill();
            });
            killer.start(5);
        }
        QVERIFY(m.rig->Click(read ? Control::Button_ReadModule : upload ? Control::Button_WriteModule : Control::Button_ClearModule));
        if (killed) QTRY_VERIFY_WITH_TIMEOUT(!m.sim.Running(), 30000);
        else QTRY_COMPARE_WITH_TIMEOUT(m.sim.Count(QStringLiteral("hung up")), 1, 30000);

        // The program notices: the port is closed as "关闭" would, the operation has ended.
        QTRY_VERIFY_WITH_TIMEOUT(!m.rig->program.link.IsOpen(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!m.rig->program.link.OperationRunning(), 10000);
        QCOMPARE(m.rig->LogCount(QStringLiteral("端口已断开: COM")), losses + 1);
        const QRegularExpression end(read ? QStringLiteral("端口已关闭\r\n读取未完成，配置表已恢复为读取前的内容\r\n$")
                                     : upload ? QStringLiteral("端口已关闭\r\n写入未完成：已发送 [5-9]/16 个代码，端口已断开\r\n模块中可能只有部分代码[^\r]+\r\n$")
                                                         : QStringLiteral("端口已关闭\r\n$"));
        QVERIFY2(end.match(m.rig->Log()).hasMatch(), qPrintable(m.rig->Log().right(300)));
        QCOMPARE(m.rig->ui.GetCaption(Control::Button_TogglePort), QStringLiteral("开启"));
        QVERIFY(!m.rig->ui.IsDisabled(Control::Button_TogglePort));
        QVERIFY(!m.rig->program.link.Reading().Dumping());
        QCOMPARE(m.rig->Bar(), 0);
        QCOMPARE(m.rig->LogCount(QStringLiteral("数据提取完成\r\n")), ends);
        if (read) QVERIFY(m.rig->program.link.Reading().End() == ReadEnd::PortLost);
        // A read cut off gives the table back as it was before it.
        QCOMPARE(m.rig->ValueCells(), before);

        if (killed) {
            // Gone for good: opening says so and leaves the port closed.
            QVERIFY(m.rig->Click(Control::Button_TogglePort));
            QVERIFY(!m.rig->program.link.IsOpen());
            QCOMPARE(m.rig->boxes->texts.last(), QStringLiteral("端口打开失败-1"));
            QVERIFY(m.rig->Log().endsWith(QStringLiteral(" 设备不存在\r\n")));
            // The module comes back (a clear it heard before it died is undone).
            QVERIFY(WriteMemory(m.memory, FewCells()));
            m.Connect(9600);
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(m.sim.Count(QStringLiteral("line back on")), 1, 10000);
            QVERIFY(m.rig->Click(Control::Button_TogglePort));
            QVERIFY(m.rig->program.link.IsOpen());
        }
        const qsizetype lost = m.sim.lines.indexOf(QRegularExpression(QStringLiteral("^hung up")));
        m.Read(30000);
        m.ExpectTable(FewCells());
        if (!killed) {
            // Nothing reached the module's line once it was back, until the
            // port was reopened: the first frames it heard are the read's.
            const QStringList heard = m.sim.lines.mid(lost).filter(QRegularExpression(QStringLiteral("^recv")));
            QVERIFY2(heard.size() >= 2 && heard.at(0).startsWith(QStringLiteral("recv enter"))
                         && heard.at(1).startsWith(QStringLiteral("recv read")),
                     qPrintable(heard.join(QLatin1Char('\n'))));
        }
    }
};

QTEST_MAIN(LostLineTest)
#include "test_e2e_lost.moc"
