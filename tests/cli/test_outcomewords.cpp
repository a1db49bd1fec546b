// velmora-cli's line and exit status for each outcome the session gives.

#include <QtTest>

#include "OutcomeWords.h"

Q_DECLARE_METATYPE(ModuleOutcome)

namespace {
constexpr int kCtrlC = 130;
}

class OutcomeWordsTest : public QObject {
    Q_OBJECT

private slots:
    void shortOperations_data()
    {
        QTest::addColumn<ModuleOutcome>("o");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("summary");
        using K = OutcomeKind;
        const QString check = QStringLiteral("; check --baud (the module's rate), the port and the module's power");
        QTest::newRow("done") << ModuleOutcome{.kind = K::Done} << 0 << QStringLiteral("module rate set to 19200 (use --baud 19200 from now on)");
        QTest::newRow("no answer") << ModuleOutcome{.kind = K::NoAnswer} << 5
                                   << QStringLiteral("the module did not echo the enter frame within 1 s") + check;
        QTest::newRow("looped") << ModuleOutcome{.kind = K::Looped, .lineLooped = true} << 5
                                << QStringLiteral("the module did not echo the enter frame within 1 s (the line sends back what it is "
                                                  "sent: an adapter that hears its own sending, a loopback or a wiring fault)");
        QTest::newRow("port lost") << ModuleOutcome{.kind = K::PortLost} << 3 << QStringLiteral("the port was lost");
        QTest::newRow("stopped") << ModuleOutcome{.kind = K::Stopped} << kCtrlC << QStringLiteral("interrupted");
        QTest::newRow("unsent") << ModuleOutcome{.kind = K::Unsent} << kCtrlC << QStringLiteral("interrupted; nothing was sent");
    }
    void shortOperations()
    {
        QFETCH(ModuleOutcome, o);
        QFETCH(int, status);
        QFETCH(QString, summary);
        PortOutcome outcome;
        WordShort(Verb::SetBaud, 19200, o, kCtrlC, outcome);
        QCOMPARE(outcome.status, status);
        QCOMPARE(outcome.summary, summary);
    }

    void writes_data()
    {
        QTest::addColumn<ModuleOutcome>("o");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("begins");
        using K = OutcomeKind;
        QTest::newRow("done") << ModuleOutcome{.kind = K::Done, .codesSent = 12, .codes = 12} << 0 << QStringLiteral("wrote 12 codes");
        QTest::newRow("held") << ModuleOutcome{.kind = K::NoAnswer, .blocksHeld = true, .codes = 12} << 5
                              << QStringLiteral("the module did not echo the enter frame within 1 s; only the exit frame followed");
        QTest::newRow("looped midway") << ModuleOutcome{.kind = K::Looped, .lineLooped = true, .codesSent = 3, .codes = 12} << 5
                                       << QStringLiteral("the module did not echo the enter frame within 1 s (the line sends back");
        QTest::newRow("port lost") << ModuleOutcome{.kind = K::PortLost, .codesSent = 5, .codes = 12} << 3
                                   << QStringLiteral("the port was lost after 5 of 12 codes; the module may hold part of the table "
                                                     "and may still be in configuration mode: write again once it is back");
        QTest::newRow("stopped") << ModuleOutcome{.kind = K::Stopped, .codesSent = 5, .codes = 12} << kCtrlC
                                 << QStringLiteral("interrupted after 5 of 12 codes; the exit frame was sent");
    }
    void writes()
    {
        QFETCH(ModuleOutcome, o);
        QFETCH(int, status);
        QFETCH(QString, begins);
        PortOutcome outcome;
        QCOMPARE(WordWrite(o, kCtrlC, outcome), status == 0);
        QCOMPARE(outcome.status, status);
        QVERIFY2(outcome.summary.startsWith(begins), qPrintable(outcome.summary));
    }

    void readsThatDidNotEndWell()
    {
        const struct {
            ReadOutcome r;
            int status;
            const char* begins;
        } cases[] = {
            {{.kind = OutcomeKind::NoAnswer}, 5, "the module did not answer the read request; nothing was written; check --baud"},
            {{.kind = OutcomeKind::NoAnswer, .dumpStarted = true}, 5, "the module stopped answering during the read"},
            {{.kind = OutcomeKind::NoAnswer, .dumpEndAlone = true}, 5, "the module answered the read with a dump end alone"},
            {{.kind = OutcomeKind::Unclear}, 6, "the module's answers were not clear: a dump end came with no dump start"},
            {{.kind = OutcomeKind::PortLost}, 3, "the port was lost during the read"},
            {{.kind = OutcomeKind::Stopped, .exitSent = true}, kCtrlC, "interrupted; nothing was written; the exit frame was sent"},
        };
        for (const auto& c : cases) {
            PortOutcome outcome;
            WordReadFailure(c.r, true, kCtrlC, outcome);
            QCOMPARE(outcome.status, c.status);
            QVERIFY2(outcome.summary.startsWith(QString::fromUtf8(c.begins)), qPrintable(outcome.summary));
        }
        ReadOutcome unclear{.kind = OutcomeKind::Unconfirmed, .unconfirmed = {{15, 2}}, .noisyLine = true};
        QVERIFY(WordUnclear(unclear, [](const CellPosition&) { return QStringLiteral("开关08控制 关"); })
                    .startsWith(QStringLiteral("the module's answers were not clear for 1 code (开关08控制 关); read again (the line is noisy")));
    }
};

QTEST_GUILESS_MAIN(OutcomeWordsTest)
#include "test_outcomewords.moc"
