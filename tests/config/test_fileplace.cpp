// Writing files where other users may have put links, files of other owners
// and files with several links; copies and new files under free names.

#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

#include "config/FilePlace.h"
#include "config/RegularFile.h"
#include "tests/support/FileBytes.h"

namespace {
constexpr uid_t kOther = 65534;  // nobody

struct stat StatOf(const QString& path, bool follow = true)
{
    struct stat st = {};
    (follow ? ::stat : ::lstat)(QFile::encodeName(path).constData(), &st);
    return st;
}
bool IsRoot() { return ::geteuid() == 0; }
}  // namespace

class FilePlaceTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString Path(const QString& name) const { return dir.filePath(name); }

private Q_SLOTS:
    // The rule of protected_symlinks, for the link itself and for a folder on
    // the way: in a sticky folder everyone may write, only links of ours or of
    // the folder's owner lead anywhere; elsewhere every link does.
    void linksAreFollowedOnlyAsTheStickyFolderRuleAllows_data()
    {
        QTest::addColumn<bool>("shared");      // the link's folder is sticky and writable by all
        QTest::addColumn<QString>("linkOwner");  // me, folder (its owner, not me), other
        QTest::addColumn<bool>("onTheWay");    // the link names a folder on the way, not the file
        QTest::addColumn<bool>("followed");
        for (bool onTheWay : {false, true}) {
            const char* way = onTheWay ? ", a folder on the way" : "";
            QTest::addRow("shared, mine%s", way) << true << "me" << onTheWay << true;
            QTest::addRow("shared, the folder owner's%s", way) << true << "folder" << onTheWay << true;
            QTest::addRow("shared, another user's%s", way) << true << "other" << onTheWay << false;
            QTest::addRow("private, another user's%s", way) << false << "other" << onTheWay << true;
        }
    }
    void linksAreFollowedOnlyAsTheStickyFolderRuleAllows()
    {
        QFETCH(bool, shared);
        QFETCH(QString, linkOwner);
        QFETCH(bool, onTheWay);
        QFETCH(bool, followed);
        if (linkOwner != "me" && !IsRoot()) QSKIP("links of other owners need root to make");
        const QString folder = Path(QStringLiteral("%1-%2-%3").arg(shared).arg(linkOwner).arg(onTheWay));
        const QString victim = folder + "-victim";
        QVERIFY(QDir().mkpath(folder) && QDir().mkpath(victim));
        QVERIFY(WriteAll(victim + "/data.dat", "theirs"));
        const QString link = folder + (onTheWay ? "/into" : "/out.dat");
        QVERIFY(QFile::link(onTheWay ? victim : victim + "/data.dat", link));
        const QByteArray written = onTheWay ? QFile::encodeName(link + "/data.dat") : QFile::encodeName(link);
        ::chmod(QFile::encodeName(folder).constData(), shared ? 01777 : 0755);
        if (linkOwner == "folder") QCOMPARE(::chown(QFile::encodeName(folder).constData(), kOther, kOther), 0);
        if (linkOwner != "me") QCOMPARE(::lchown(QFile::encodeName(link).constData(), kOther, kOther), 0);

        QString why;
        QCOMPARE(WriteFileContent(QString::fromLocal8Bit(written), "ours", &why), followed);
        QCOMPARE(ReadAll(victim + "/data.dat"), QByteArray(followed ? "ours" : "theirs"));
        QVERIFY(QFileInfo(link).isSymLink());
        if (!followed) QVERIFY2(why.contains("is a link that another user (uid 65534) put in the shared folder"), qPrintable(why));
    }

    // A replace keeps owner, group, mode and the other links of the file;
    // where a new file renamed into place cannot, the file is written in place
    // and the copy made for that time goes again.
    void aReplaceKeepsOwnerModeAndLinks_data()
    {
        QTest::addColumn<bool>("othersFile");
        QTest::addColumn<bool>("secondLink");
        QTest::newRow("mine") << false << false;
        QTest::newRow("mine, two links") << false << true;
        QTest::newRow("another user's") << true << false;
        QTest::newRow("another user's, two links") << true << true;
    }
    void aReplaceKeepsOwnerModeAndLinks()
    {
        QFETCH(bool, othersFile);
        QFETCH(bool, secondLink);
        if (othersFile && !IsRoot()) QSKIP("a file of another owner needs root to make");
        const QString folder = Path(QStringLiteral("owners-%1-%2").arg(othersFile).arg(secondLink));
        QVERIFY(QDir().mkpath(folder));
        const QString path = folder + "/data.dat";
        QVERIFY(WriteAll(path, "old"));
        QCOMPARE(::chmod(QFile::encodeName(path).constData(), 0640), 0);
        if (othersFile) QCOMPARE(::chown(QFile::encodeName(path).constData(), kOther, kOther), 0);
        if (secondLink) QCOMPARE(::link(QFile::encodeName(path).constData(), QFile::encodeName(folder + "/other-name").constData()), 0);
        const struct stat before = StatOf(path);

        QString why;
        QVERIFY2(WriteFileContent(path, "new", &why), qPrintable(why));
        const struct stat after = StatOf(path);
        QCOMPARE(ReadAll(path), QByteArray("new"));
        QCOMPARE(after.st_uid, before.st_uid);
        QCOMPARE(after.st_gid, before.st_gid);
        QCOMPARE(after.st_mode, before.st_mode);
        QCOMPARE(after.st_nlink, before.st_nlink);
        if (secondLink) QCOMPARE(ReadAll(folder + "/other-name"), QByteArray("new"));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), secondLink ? 2 : 1);
    }

    // Copies and new files take free names: a dangling link counts as taken
    // and is never followed; the same bytes are never kept twice.
    void copiesAndNewFilesTakeFreeNamesAndAreNeverMadeTwice()
    {
        QVERIFY(QDir().mkpath(Path("free")));
        const QString path = Path("free/data.dat");
        QVERIFY(WriteAll(path, "table one"));
        QCOMPARE(::chmod(QFile::encodeName(path).constData(), 0600), 0);
        QVERIFY(QFile::link(Path("free/nowhere"), path + ".bak"));
        FilePlace place(path);
        QString backup, why;
        bool made = false;
        QVERIFY(place.BackUp(&backup, &made, &why));
        QVERIFY(made);
        QCOMPARE(backup, path + ".bak2");
        QCOMPARE(ReadAll(backup), QByteArray("table one"));
        QCOMPARE(StatOf(backup).st_mode & 0777, mode_t(0600));
        QVERIFY(!QFile::exists(Path("free/nowhere")));
        QVERIFY(place.BackUp(&backup, &made, &why));
        QVERIFY(!made);
        QCOMPARE(backup, path + ".bak2");

        const auto nameFor = [](int n) { return "new-" + QByteArray::number(n) + ".dat"; };
        const auto ofTheKind = [](const QByteArray& name) { return name.startsWith("new-"); };
        QVERIFY(QFile::link(Path("free/planted"), Path("free/new-1.dat")));
        QString first, second, again;
        QVERIFY(place.CreateUnique("A", nameFor, ofTheKind, &first, &why));
        QVERIFY(place.CreateUnique("B", nameFor, ofTheKind, &second, &why));
        QVERIFY(place.CreateUnique("A", nameFor, ofTheKind, &again, &why));
        QCOMPARE((QStringList{first, second, again}), (QStringList{Path("free/new-2.dat"), Path("free/new-3.dat"), Path("free/new-2.dat")}));
        QVERIFY(!QFile::exists(Path("free/planted")));
        QCOMPARE(QDir(Path("free")).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 6);
    }
};

QTEST_GUILESS_MAIN(FilePlaceTest)
#include "test_fileplace.moc"
