// The built program as a user or a session manager meets it: started in an
// empty folder, with arguments or without a display, ended by a signal or by
// closing itself, and what it leaves.

#include <QtTest>
#include <QProcess>
#include <csignal>

class ProgramTest : public QObject {
    Q_OBJECT

    QString program_;

    // A copy of the program in a fresh folder, so its table file lands there.
    bool CopyInto(const QTemporaryDir& dir, QString* copy)
    {
        *copy = dir.filePath(QStringLiteral("velmora"));
        return QFile::copy(program_, *copy)
            && QFile::setPermissions(*copy, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    static QProcessEnvironment Env(const char* variable)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QString::fromLatin1(variable), QStringLiteral("1"));
        env.remove(QStringLiteral("VELMORA_EXTRA_PORTS"));
        return env;
    }

    // No display of any kind, and no platform chosen.
    static QProcessEnvironment NoDisplay()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "VELMORA_EXTRA_PORTS"})
            env.remove(QString::fromLatin1(variable));
        return env;
    }

private Q_SLOTS:
    void initTestCase()
    {
        program_ = qEnvironmentVariable("VELMORA_BINARY_DIR") + QStringLiteral("/velmora");
        if (!QFile::exists(program_)) QSKIP("the program is not built");
    }

    void aSignalClosesTheWindowNormally_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }
    void aSignalClosesTheWindowNormally()
    {
        QFETCH(int, signal);
        QTemporaryDir dir;
        QString copy;
        QVERIFY(CopyInto(dir, &copy));
        QProcess p;
        p.setProcessEnvironment(Env("VELMORA_ANNOUNCE_SHOWN"));
        p.setWorkingDirectory(dir.path());
        p.start(copy, {});
        QVERIFY(p.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT((p.waitForReadyRead(100), p.peek(4096).contains("shown")), 30000);
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("data.dat"))));
        ::kill(pid_t(p.processId()), signal);
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        // The exit save ran: the empty table is on disk beside the program.
        QFile saved(dir.filePath(QStringLiteral("data.dat")));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QVERIFY(saved.readAll().startsWith("KTBF"));
    }

    // Help and version need no display at all; neither does an argument error.
    void argumentsAreAnsweredWithoutADisplay_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("errFirstLine");
        const QString version = QStringLiteral("velmora " VELMORA_VERSION "\n");
        QTest::newRow("--version") << QStringList{"--version"} << 0 << version << QString();
        QTest::newRow("--help") << QStringList{"--help"} << 0 << QStringLiteral("Usage: velmora") << QString();
        QTest::newRow("help after another") << QStringList{"-style", "fusion", "-h"} << 0 << QStringLiteral("Usage: velmora") << QString();
        QTest::newRow("unknown") << QStringList{"--frobnicate"} << 2 << QString()
                                 << QStringLiteral("velmora: unknown argument '--frobnicate'");
        QTest::newRow("Qt option without its value") << QStringList{"-platform"} << 2 << QString()
                                                     << QStringLiteral("velmora: option '-platform' needs a value");
    }
    void argumentsAreAnsweredWithoutADisplay()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, errFirstLine);
        QProcess p;
        p.setProcessEnvironment(NoDisplay());
        p.start(program_, arguments);
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), exitCode);
        const QString stdoutText = QString::fromUtf8(p.readAllStandardOutput());
        const QString stderrText = QString::fromUtf8(p.readAllStandardError());
        if (out.endsWith(QLatin1Char('\n'))) QCOMPARE(stdoutText, out);
        else QVERIFY(stdoutText.startsWith(out));
        if (errFirstLine.isEmpty()) {
            QCOMPARE(stderrText, QString());
        } else {
            QCOMPARE(stdoutText, QString());
            QCOMPARE(stderrText.section(QLatin1Char('\n'), 0, 0), errFirstLine);
            QVERIFY(stderrText.contains(QStringLiteral("Usage: velmora")));
        }
    }

    void withoutADisplayItSaysSoInOneLineAndExitsOne_data()
    {
        QTest::addColumn<QString>("display");
        QTest::newRow("none set") << QString();
        QTest::newRow("one that is not there") << QStringLiteral(":97");
    }
    void withoutADisplayItSaysSoInOneLineAndExitsOne()
    {
        QFETCH(QString, display);
        QTemporaryDir dir;
        QString copy;
        QVERIFY(CopyInto(dir, &copy));
        QProcessEnvironment env = NoDisplay();
        if (!display.isEmpty()) env.insert(QStringLiteral("DISPLAY"), display);
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(copy, {});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);  // no abort, no core
        QCOMPARE(p.exitCode(), 1);
        const QByteArray err = p.readAllStandardError();
        QCOMPARE(err.count('\n'), 1);
        QVERIFY(err.startsWith("velmora: "));
        QVERIFY(err.contains("QT_QPA_PLATFORM=offscreen"));
        if (!display.isEmpty()) QVERIFY(err.contains(display.toUtf8()));
        // It never got as far as the table.
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("data.dat"))));
    }

    void closingAfterTheFirstShowEndsWithZero()
    {
        QTemporaryDir dir;
        QString copy;
        QVERIFY(CopyInto(dir, &copy));
        QProcess p;
        p.setProcessEnvironment(Env("VELMORA_EXIT_AFTER_SHOW"));
        // Qt's own options are Qt's business, not argument errors.
        p.start(copy, {QStringLiteral("-style"), QStringLiteral("fusion"), QStringLiteral("-reverse")});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(p.readAllStandardOutput().contains("velmora: shown after"));
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("data.dat"))));
    }
};

QTEST_GUILESS_MAIN(ProgramTest)
#include "test_program.moc"
