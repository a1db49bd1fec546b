// The built program as a user or a session manager meets it: started in an
// empty folder, ended by a signal or by closing itself, and what it leaves.

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

    void closingAfterTheFirstShowEndsWithZero()
    {
        QTemporaryDir dir;
        QString copy;
        QVERIFY(CopyInto(dir, &copy));
        QProcess p;
        p.setProcessEnvironment(Env("VELMORA_EXIT_AFTER_SHOW"));
        p.start(copy, {});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(p.readAllStandardOutput().contains("velmora: shown after"));
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("data.dat"))));
    }
};

QTEST_GUILESS_MAIN(ProgramTest)
#include "test_program.moc"
