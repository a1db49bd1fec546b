// Properties of the read and its confirmation, over modules that misbehave
// (tests/support/MisbehavingModule.h): a read that ends well gives exactly the
// module's codes; the line's verdict says what the line and the module did.
// VELMORA_READ_CASES and VELMORA_READ_SEED set how many cases from which seed
// (fuzz/read_property.sh runs many). Left out, as no read can tell them from
// another module's: for one dump, noise glued to a code within the quiet time,
// a corrupted record address, a pause past the settle time just after a
// code's dump end bytes; for any read, the same corruption in every dump.
#include <QtTest>

#include "tests/support/MisbehavingModule.h"

class ReadPropertyTest : public QObject {
    Q_OBJECT
    quint32 first = qEnvironmentVariableIntValue("VELMORA_READ_SEED");
    quint32 cases = qEnvironmentVariableIsSet("VELMORA_READ_CASES") ? qEnvironmentVariableIntValue("VELMORA_READ_CASES") : 1500;
private Q_SLOTS:
    void aReadThatEndsWellIsExact()
    {
        for (quint32 seed = first; seed < first + cases; ++seed)
            for (bool once : {false, true}) {
                MisbehavingRig rig(seed);
                const std::optional<QHash<int, QByteArray>> read = rig.Read(once);
                const bool excluded = once && rig.module.alike > 0;
                QVERIFY2(!read || excluded || *read == rig.module.codes, qPrintable(QStringLiteral("seed %1%2").arg(seed).arg(once ? " --once" : "")));
            }
    }
    void theLineIsJudgedByItsBytes()
    {
        for (quint32 seed = first; seed < first + cases; ++seed) {
            MisbehavingRig rig(seed);
            rig.link.Clear();
            const LineVerdict v = rig.link.JudgeLine({});
            const bool looped = rig.module.loops || rig.module.hearsItself;
            QVERIFY2(v.judged && v.looped == looped && v.moduleEchoed == rig.module.answers, qPrintable(QStringLiteral("seed %1").arg(seed)));
        }
    }
};

QTEST_GUILESS_MAIN(ReadPropertyTest)
#include "test_readproperty.moc"
