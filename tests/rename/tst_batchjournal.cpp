#include "batchjournal.h"
#include "filenames.h"
#include "posixfileoperations.h"
#include "testfiles.h"

#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QByteArray raw(const QString &path)
{
    return FileNames::encode(path);
}

} // namespace

class BatchJournalTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }
    void oddNamesSurviveTheJournal();
    void journalsNotWrittenByABatchAreRefused_data();
    void journalsNotWrittenByABatchAreRefused();
    void keptContentComesBackOnlyWhenOutOfSight_data();
    void keptContentComesBackOnlyWhenOutOfSight();
    void leftoversOfTheBatchGoAndNothingElse();
    void startUpRecoversAbandonedJournalsOnly();
    void recoveryWaitsForAFolderThatIsAway();
    void aJournalUnderAnotherNameIsNotActedOn();
    void aJournalInAFolderNoLongerWritableIsStillRecovered();
    void aJournalOthersWroteIsNotActedOn_data();
    void aJournalOthersWroteIsNotActedOn();
    void aJournalOnADriveWithoutPermissionsIsRecovered();
    void aDamagedJournalIsNeverSetAsideInSilence_data();
    void aDamagedJournalIsNeverSetAsideInSilence();
    void aKeptFileTheJournalDoesNotNameComesBackToo();
    void trashInformationWithoutItsFileGoes();
    void aJournalThatIsALinkIsNotActedOn();

private:
    QString path(const QString &name) const { return m_dir->path() + QLatin1Char('/') + name; }
    BatchJournal journalFor(const QString &folder) const
    {
        return BatchJournal::begin(folder, folder);
    }
    std::unique_ptr<QTemporaryDir> m_dir;
    PosixFileOperations m_files;
};

void BatchJournalTest::oddNamesSurviveTheJournal()
{
    BatchJournal journal =
        BatchJournal::begin(QStringLiteral("/a b/c%20d"), FileNames::decode("/t\n\xff\x83/x"));
    journal.kept.push_back({journal.keptPath(1),
                            FileNames::decode("/a b/c%20d/new\nline \x83\x65.jpg"),
                            journal.targetFolder + QStringLiteral("/photo 007.jpg")});
    const std::optional<BatchJournal> read = BatchJournal::fromBytes(journal.toBytes());
    QVERIFY(read);
    QCOMPARE(read->id, journal.id);
    QCOMPARE(read->sourceFolder, journal.sourceFolder);
    QCOMPARE(raw(read->targetFolder), QByteArray("/t\n\xff\x83/x"));
    QCOMPARE(read->kept.size(), size_t(1));
    QCOMPARE(raw(read->kept[0].original), QByteArray("/a b/c%20d/new\nline \x83\x65.jpg"));
    QCOMPARE(read->kept[0].kept, journal.kept[0].kept);
    QCOMPARE(read->kept[0].target, journal.kept[0].target);
}

void BatchJournalTest::journalsNotWrittenByABatchAreRefused_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray head = "kaenami batch journal 1\nid abc\nsource /s\ntarget /t\n";
    QTest::newRow("cut short") << head;
    QTest::newRow("other header") << QByteArray("journal 2\nid abc\nsource /s\ntarget /t\nend\n");
    QTest::newRow("kept file outside the target folder")
        << head + "kept /etc/passwd /s/a /t/b\nend\n";
    QTest::newRow("kept file not hidden by the batch")
        << head + "kept /t/photo.jpg /s/a /t/b\nend\n";
    QTest::newRow("id that could be a path")
        << QByteArray("kaenami batch journal 1\nid ../x\nsource /s\ntarget /t\nend\n");
    QTest::newRow("relative target")
        << QByteArray("kaenami batch journal 1\nid abc\nsource /s\ntarget t\nend\n");
    // A content comes back only where the batch took it from, never into another's files.
    QTest::newRow("content brought back outside the source folder")
        << head + "kept /t/.kaenami-abc-1.keep /home/user/.bashrc /t/b\nend\n";
}

void BatchJournalTest::journalsNotWrittenByABatchAreRefused()
{
    QFETCH(QByteArray, bytes);
    QVERIFY(!BatchJournal::fromBytes(bytes));
}

void BatchJournalTest::keptContentComesBackOnlyWhenOutOfSight_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<QStringList>("namesAfter");
    QTest::addColumn<QString>("restoredAs");
    QTest::newRow("original untouched") << "intact" << QStringList{"a.jpg"} << QString();
    QTest::newRow("already copied to its new name")
        << "copied" << QStringList{"a.jpg"} << QString();
    QTest::newRow("original name free") << "gone" << QStringList{"a.jpg"} << "a.jpg";
    QTest::newRow("original name taken")
        << "replaced" << QStringList{"a (復元).jpg", "a.jpg"} << "a (復元).jpg";
    QTest::newRow("beside name taken too")
        << "replaced twice" << QStringList{"a (復元 2).jpg", "a (復元).jpg", "a.jpg"}
        << "a (復元 2).jpg";
}

void BatchJournalTest::keptContentComesBackOnlyWhenOutOfSight()
{
    QFETCH(QString, situation);
    QFETCH(QStringList, namesAfter);
    QFETCH(QString, restoredAs);
    BatchJournal journal = journalFor(m_dir->path());
    const QString original = path("a.jpg");
    const QString target = path("b.jpg");
    journal.kept.push_back({journal.keptPath(1), original, target});
    QVERIFY(TestFiles::write(original, "content of a"));
    QVERIFY(m_files.setAside(original, journal.kept[0].kept));

    if (situation == "copied") {
        QVERIFY(TestFiles::write(target, "content of a"));
    } else {
        QVERIFY(TestFiles::write(target, "content of something else"));
    }
    if (situation == "gone")
        QVERIFY(QFile::remove(original));
    if (situation.startsWith("replaced")) {
        QVERIFY(QFile::remove(original));
        QVERIFY(TestFiles::write(original, "a new file under the old name"));
    }
    if (situation == "replaced twice")
        QVERIFY(TestFiles::write(path("a (復元).jpg"), "a file the user made"));

    const RecoveryReport report = recoverBatch(m_files, journal);
    QVERIFY2(report.problems.isEmpty(), qPrintable(report.problems.join('\n')));
    QStringList names = TestFiles::names(m_dir->path());
    names.removeAll("b.jpg");
    QCOMPARE(names, namesAfter);
    if (restoredAs.isEmpty()) {
        QVERIFY(report.restored.empty());
    } else {
        QCOMPARE(report.restored.size(), size_t(1));
        QCOMPARE(report.restored[0].now, path(restoredAs));
        QCOMPARE(report.restored[0].original, original);
        QCOMPARE(TestFiles::read(path(restoredAs)), QByteArray("content of a"));
    }
    if (situation == "replaced twice")
        QCOMPARE(TestFiles::read(path("a (復元).jpg")), QByteArray("a file the user made"));
}

void BatchJournalTest::leftoversOfTheBatchGoAndNothingElse()
{
    const BatchJournal journal = journalFor(m_dir->path());
    const BatchJournal other = journalFor(m_dir->path());
    QVERIFY(TestFiles::write(journal.temporaryPath(1), "half a copy"));
    QVERIFY(TestFiles::write(journal.temporaryPath(7), ""));
    QVERIFY(TestFiles::write(other.temporaryPath(1), "another batch's copy"));
    QVERIFY(TestFiles::write(path(".hidden.part"), "the user's hidden file"));
    QVERIFY(TestFiles::write(path("photo.jpg"), "x"));
    // A folder with the batch's name is not a leftover file.
    QVERIFY(QDir(m_dir->path()).mkdir(journal.hiddenPrefix() + "9.part"));
    const RecoveryReport report = recoverBatch(m_files, journal);
    QCOMPARE(report.leftoversRemoved, 2);
    QStringList expected{".hidden.part", other.hiddenPrefix() + "1.part", "photo.jpg"};
    expected.sort();
    QCOMPARE(TestFiles::names(m_dir->path()), expected);
}

void BatchJournalTest::startUpRecoversAbandonedJournalsOnly()
{
    QDir(m_dir->path()).mkdir("program");
    const QString program = path("program");
    // A batch still running in another instance holds its journal.
    PosixFileOperations running;
    BatchJournal live = journalFor(m_dir->path());
    live.kept.push_back({live.keptPath(1), path("live.jpg"), path("x.jpg")});
    QVERIFY(TestFiles::write(path("live.jpg"), "live"));
    QVERIFY(running.setAside(path("live.jpg"), live.kept[0].kept));
    QVERIFY(QFile::remove(path("live.jpg")));
    QVERIFY(running.writeJournal(BatchJournal::pathIn(program, live.id), live.toBytes()));
    // A batch that was killed left its journal, a kept file out of sight and a temporary.
    BatchJournal dead = journalFor(m_dir->path());
    dead.kept.push_back({dead.keptPath(1), path("dead.jpg"), path("y.jpg")});
    QVERIFY(TestFiles::write(path("dead.jpg"), "dead"));
    QVERIFY(m_files.setAside(path("dead.jpg"), dead.kept[0].kept));
    QVERIFY(QFile::remove(path("dead.jpg")));
    QVERIFY(TestFiles::write(dead.temporaryPath(2), "half"));
    QVERIFY(TestFiles::write(BatchJournal::pathIn(program, dead.id), dead.toBytes()));

    const QString message = recoverAbandonedBatches(m_files, program);
    QVERIFY2(message.startsWith("前回のリネームは最後まで終わっていませんでした。"),
             qPrintable(message));
    QVERIFY2(message.contains(path("dead.jpg")), qPrintable(message));
    QVERIFY2(!message.contains("live"), qPrintable(message));
    QCOMPARE(TestFiles::read(path("dead.jpg")), QByteArray("dead"));
    QVERIFY(!QFile::exists(dead.temporaryPath(2)));
    QCOMPARE(TestFiles::names(program),
             QStringList{BatchJournal::pathIn(program, live.id).mid(program.size() + 1)});
    QVERIFY(QFile::exists(live.kept[0].kept));
    // Nothing left to recover: no message.
    QVERIFY(recoverAbandonedBatches(m_files, program).isEmpty());
    QVERIFY(running.finishJournal(BatchJournal::pathIn(program, live.id)));
}

void BatchJournalTest::recoveryWaitsForAFolderThatIsAway()
{
    QDir(m_dir->path()).mkdir("program");
    QDir(m_dir->path()).mkdir("stick");
    const QString program = path("program");
    const QString stick = path("stick");
    // Killed after x2.jpg was replaced: its content is only in the kept file.
    BatchJournal journal = journalFor(stick);
    journal.kept.push_back({journal.keptPath(1), stick + "/x2.jpg", stick + "/x3.jpg"});
    QVERIFY(TestFiles::write(stick + "/x2.jpg", "two"));
    QVERIFY(m_files.setAside(stick + "/x2.jpg", journal.kept[0].kept));
    QVERIFY(QFile::remove(stick + "/x2.jpg"));
    QVERIFY(TestFiles::write(stick + "/x2.jpg", "one"));
    const QString journalPath = BatchJournal::pathIn(program, journal.id);
    QVERIFY(TestFiles::write(journalPath, journal.toBytes()));

    // The drive is not there at the next start: nothing is decided, the journal stays.
    QVERIFY(QDir(m_dir->path()).rename("stick", "away"));
    const QString message = recoverAbandonedBatches(m_files, program);
    QVERIFY2(message.contains(stick) && !message.contains("失われた内容はありません"),
             qPrintable(message));
    QVERIFY(QFile::exists(journalPath));

    // It is back at the start after that: the content comes back.
    QVERIFY(QDir(m_dir->path()).rename("away", "stick"));
    const QString later = recoverAbandonedBatches(m_files, program);
    QVERIFY2(later.contains(stick + "/x2 (復元).jpg"), qPrintable(later));
    QCOMPARE(TestFiles::read(stick + "/x2 (復元).jpg"), QByteArray("two"));
    QVERIFY(!QFile::exists(journalPath));
}

void BatchJournalTest::aJournalUnderAnotherNameIsNotActedOn()
{
    QDir(m_dir->path()).mkdir("program");
    const QString program = path("program");
    BatchJournal journal = journalFor(m_dir->path());
    QVERIFY(TestFiles::write(journal.temporaryPath(1), "a batch's temporary"));
    // Copied under the name of another batch, it says nothing about that batch.
    QVERIFY(TestFiles::write(BatchJournal::pathIn(program, "other"), journal.toBytes()));
    recoverAbandonedBatches(m_files, program);
    QVERIFY(QFile::exists(journal.temporaryPath(1)));
}

void BatchJournalTest::aJournalInAFolderNoLongerWritableIsStillRecovered()
{
    // The journal's folder became read-only for this user after a crash (a portable copy's
    // folder made read-only); the photo kept aside must still come back, and told once.
    if (::geteuid() != 0)
        QSKIP("hands the files to another user, which needs root");
    const QString program = path("program");
    const QString photos = path("photos");
    QVERIFY(QDir().mkpath(program));
    QVERIFY(QDir().mkpath(photos));
    BatchJournal dead = journalFor(photos);
    dead.kept.push_back({dead.keptPath(1), photos + "/photo1.jpg", photos + "/x.jpg"});
    QVERIFY(TestFiles::write(photos + "/photo1.jpg", "photo"));
    QVERIFY(m_files.setAside(photos + "/photo1.jpg", dead.kept[0].kept));
    QVERIFY(QFile::remove(photos + "/photo1.jpg"));
    const QString journal = BatchJournal::pathIn(program, dead.id);
    QVERIFY(TestFiles::write(journal, dead.toBytes()));
    QVERIFY(::chown(FileNames::encode(journal).constData(), 65534, 65534) == 0);
    for (const auto &[folder, mode] :
         {std::pair{m_dir->path(), 0755}, {photos, 0777}, {program, 0555}})
        QVERIFY(::chmod(FileNames::encode(folder).constData(), mode_t(mode)) == 0);

    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(10);
        PosixFileOperations files;
        const QString first = recoverAbandonedBatches(files, program);
        if (!first.contains(photos + "/photo1.jpg"))
            ::_exit(1);
        if (TestFiles::read(photos + "/photo1.jpg") != "photo")
            ::_exit(2);
        if (!recoverAbandonedBatches(files, program).isEmpty())
            ::_exit(3);
        ::_exit(0);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(::chmod(FileNames::encode(program).constData(), 0755) == 0);
    QVERIFY2(WIFEXITED(status), "the child ended normally");
    const int code = WEXITSTATUS(status);
    if (code == 10)
        QSKIP("cannot change to an unprivileged user here");
    const char *failures[] = {"", "the kept photo was not recovered", "wrong content",
                              "the same recovery was told again"};
    QVERIFY2(code == 0, code < 4 ? failures[code] : "unexpected");
    QCOMPARE(TestFiles::names(photos), QStringList{"photo1.jpg"});
}

void BatchJournalTest::aJournalOthersWroteIsNotActedOn_data()
{
    QTest::addColumn<bool>("otherOwner");
    QTest::addColumn<int>("mode");
    QTest::newRow("another user's") << true << 0644;
    QTest::newRow("others may write it") << false << 0666;
    QTest::newRow("the group may write it") << false << 0664;
}

void BatchJournalTest::aJournalOthersWroteIsNotActedOn()
{
    // A journal planted in a folder recovery reads (a shared program folder) must not move
    // files: it could name any kept file as the content of one of this user's files.
    QFETCH(bool, otherOwner);
    QFETCH(int, mode);
    if (otherOwner && ::geteuid() != 0)
        QSKIP("making a file another user's needs root");
    const QString program = path("program");
    QVERIFY(QDir().mkpath(program));
    BatchJournal planted = journalFor(m_dir->path());
    planted.kept.push_back({planted.keptPath(1), path("victim.txt"), path("x.jpg")});
    QVERIFY(TestFiles::write(planted.kept[0].kept, "planted"));
    const QString journal = BatchJournal::pathIn(program, planted.id);
    QVERIFY(TestFiles::write(journal, planted.toBytes()));
    QVERIFY(::chmod(FileNames::encode(journal).constData(), mode_t(mode)) == 0);
    if (otherOwner)
        QVERIFY(::chown(FileNames::encode(journal).constData(), 65534, 65534) == 0);

    QVERIFY(recoverAbandonedBatches(m_files, program).isEmpty());
    QVERIFY(recoverAbandonedBatches(m_files, program).isEmpty()); // nor at the next start
    QVERIFY(!QFile::exists(path("victim.txt")));
    QCOMPARE(TestFiles::read(planted.kept[0].kept), QByteArray("planted"));
    QVERIFY(QFile::exists(journal));
}

void BatchJournalTest::aJournalOnADriveWithoutPermissionsIsRecovered()
{
    // exFAT shows every file writable by all, whatever was asked: a portable copy on a USB
    // stick must still recover its own batch there.
    const QStringList sbin{"/usr/sbin", "/sbin", "/usr/bin", "/bin"};
    const QString mkfs = QStandardPaths::findExecutable("mkfs.exfat", sbin);
    const QString mountFuse = QStandardPaths::findExecutable("mount.exfat-fuse", sbin);
    const QString losetup = QStandardPaths::findExecutable("losetup", sbin);
    if (::geteuid() != 0 || mkfs.isEmpty() || mountFuse.isEmpty() || losetup.isEmpty())
        QSKIP("needs root, exfatprogs, exfat-fuse and losetup");
    QFile image(path("stick.img"));
    QVERIFY(image.open(QIODevice::WriteOnly) && image.resize(16 << 20));
    image.close();
    QVERIFY(QProcess::execute(mkfs, {image.fileName()}) == 0);
    QProcess attach;
    attach.start(losetup, {"-f", "--show", image.fileName()});
    attach.waitForFinished();
    const QString device = QString::fromLocal8Bit(attach.readAllStandardOutput()).trimmed();
    if (attach.exitCode() != 0 || device.isEmpty())
        QSKIP("cannot attach a loop device here");
    const auto detach = qScopeGuard([&] { QProcess::execute(losetup, {"-d", device}); });
    const QString drive = path("stick");
    QVERIFY(QDir().mkpath(drive));
    if (QProcess::execute(mountFuse, {device, drive}) != 0)
        QSKIP("cannot mount an exFAT drive here");
    const auto unmount = qScopeGuard([&] { QProcess::execute("umount", {drive}); });

    const QString program = drive + "/program";
    const QString photos = drive + "/photos";
    QVERIFY(QDir().mkpath(program) && QDir().mkpath(photos));
    BatchJournal dead = journalFor(photos);
    dead.kept.push_back({dead.keptPath(1), photos + "/photo1.jpg", photos + "/x.jpg"});
    QVERIFY(TestFiles::write(photos + "/photo1.jpg", "photo"));
    QVERIFY(m_files.setAside(photos + "/photo1.jpg", dead.kept[0].kept));
    QVERIFY(!QFile::exists(photos + "/photo1.jpg") || QFile::remove(photos + "/photo1.jpg"));
    const QString journal = BatchJournal::pathIn(program, dead.id);
    QVERIFY(TestFiles::write(journal, dead.toBytes()));
    QVERIFY2(QFileInfo(journal).permissions() & QFileDevice::WriteOther,
             "the drive shows every file writable by all");

    const QString message = recoverAbandonedBatches(m_files, program);
    QVERIFY2(message.contains(photos + "/photo1.jpg"), qPrintable(message));
    QCOMPARE(TestFiles::read(photos + "/photo1.jpg"), QByteArray("photo"));
    QVERIFY(!QFile::exists(journal));
}

void BatchJournalTest::aDamagedJournalIsNeverSetAsideInSilence_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<bool>("folderKnown");
    QTest::newRow("one bit flipped in a kept line") << "flip kept" << true;
    QTest::newRow("one bit flipped in the header") << "flip header" << true;
    // Still a kept line that reads, naming a kept file that is not there: the sum tells.
    QTest::newRow("a kept name changed") << "rename kept" << true;
    QTest::newRow("cut short") << "cut" << true;
    // Far beyond what a batch writes: only its first lines are read, and at once.
    QTest::newRow("enormous, 2 GiB") << "enormous" << true;
    QTest::newRow("the target folder's line lost") << "flip target" << false;
}

void BatchJournalTest::aDamagedJournalIsNeverSetAsideInSilence()
{
    // A batch was killed with a.jpg's content only in its kept file, then its journal was
    // damaged: the next start says so, naming where the hidden files are, and brings back what
    // their own names tell.
    QFETCH(QString, damage);
    QFETCH(bool, folderKnown);
    const QString program = path("program"), photos = path("photos");
    QVERIFY(QDir().mkpath(program) && QDir().mkpath(photos));
    OpenFolder folder;
    QVERIFY(m_files.openFolder(photos, folder));
    BatchJournal dead = BatchJournal::begin(folder, folder);
    dead.kept.push_back({dead.keptPath(1, "a.jpg"), photos + "/a.jpg", photos + "/p1.jpg"});
    dead.kept.push_back({dead.keptPath(2, "b.jpg"), photos + "/b.jpg", photos + "/p2.jpg"});
    QVERIFY(TestFiles::write(photos + "/a.jpg", "only in the kept file"));
    QVERIFY(TestFiles::write(photos + "/b.jpg", "still in sight"));
    QVERIFY(m_files.setAside(photos + "/a.jpg", dead.kept[0].kept));
    QVERIFY(m_files.setAside(photos + "/b.jpg", dead.kept[1].kept));
    QVERIFY(QFile::remove(photos + "/a.jpg"));
    QVERIFY(TestFiles::write(dead.temporaryPath(3), "half a copy"));

    QByteArray bytes = dead.toBytes();
    const auto flipIn = [&](const QByteArray &line) {
        const qsizetype at = bytes.indexOf(line);
        QVERIFY(at >= 0);
        bytes[at + line.size() - 1] = char(bytes[at + line.size() - 1] ^ 0x04);
    };
    if (damage == "flip kept")
        flipIn("\nkept ");
    else if (damage == "flip header")
        flipIn("kaenami batch");
    else if (damage == "flip target")
        flipIn("\ntarget");
    else if (damage == "cut")
        bytes.chop(6);
    else if (damage == "rename kept")
        bytes.replace("-1-a.jpg.keep", "-1-c.jpg.keep");
    const QString journal = BatchJournal::pathIn(program, dead.id);
    QVERIFY(TestFiles::write(journal, bytes));
    if (damage == "enormous")
        QVERIFY(::truncate(FileNames::encode(journal).constData(), qint64(2) << 30) == 0);

    const QString message = recoverAbandonedBatches(m_files, program);
    QVERIFY2(message.contains("壊れて"), qPrintable(message));
    QVERIFY(!QFile::exists(journal));
    QVERIFY2(QFile::exists(journal + ".unreadable"), "the journal is kept to look at");
    QCOMPARE(TestFiles::read(photos + "/b.jpg"), QByteArray("still in sight"));
    if (!folderKnown) {
        QVERIFY2(message.contains(dead.hiddenPrefix()), qPrintable(message));
        return;
    }
    QVERIFY2(message.contains(photos) && message.contains(photos + "/a.jpg"), qPrintable(message));
    QCOMPARE(TestFiles::read(photos + "/a.jpg"), QByteArray("only in the kept file"));
    QCOMPARE(TestFiles::names(photos), (QStringList{"a.jpg", "b.jpg"}));
    // Told once: the next start has nothing to say.
    QVERIFY(recoverAbandonedBatches(m_files, program).isEmpty());
}

void BatchJournalTest::aKeptFileTheJournalDoesNotNameComesBackToo()
{
    // A journal of the first format (without a sum) whose kept line names another file than
    // the one the batch kept: the kept file's own name still brings its content back.
    const QString program = path("program"), photos = path("photos");
    QVERIFY(QDir().mkpath(program) && QDir().mkpath(photos));
    QVERIFY(TestFiles::write(photos + "/.kaenami-abc-2-a.jpg.keep", "only here"));
    const QByteArray journal = "kaenami batch journal 1\nid abc\nsource " +
                               FileNames::encode(photos) + "\ntarget " + FileNames::encode(photos) +
                               "\nkept " + FileNames::encode(photos) + "/.kaenami-abc-1.keep " +
                               FileNames::encode(photos) + "/b.jpg " + FileNames::encode(photos) +
                               "/p1.jpg\nend\n";
    QVERIFY(TestFiles::write(BatchJournal::pathIn(program, "abc"), journal));
    const QString message = recoverAbandonedBatches(m_files, program);
    QVERIFY2(message.contains(photos + "/a.jpg"), qPrintable(message));
    QVERIFY2(!message.contains("失われた内容はありません"), qPrintable(message));
    QCOMPARE(TestFiles::names(photos), QStringList{"a.jpg"});
    QCOMPARE(TestFiles::read(photos + "/a.jpg"), QByteArray("only here"));
}

void BatchJournalTest::trashInformationWithoutItsFileGoes()
{
    // A batch killed between writing a replaced file's trash information and linking the file
    // into the trash: the information names nothing, and goes; any other stays.
    const QString photos = path("photos"), trash = path("Trash");
    QVERIFY(QDir().mkpath(photos) && QDir().mkpath(trash + "/files") &&
            QDir().mkpath(trash + "/info"));
    BatchJournal dead = journalFor(photos);
    dead.trashFolders.append(trash);
    const auto info = [&](const QString &name, const QString &recorded) {
        return TestFiles::write(trash + "/info/" + name + ".trashinfo",
                                "[Trash Info]\nPath=" + QUrl::toPercentEncoding(recorded, "/") +
                                    "\nDeletionDate=2026-12-07T10:00:00\n");
    };
    QVERIFY(info("p1.jpg", photos + "/p1.jpg")); // the batch's, without its file
    QVERIFY(info("p2.jpg", photos + "/p2.jpg")); // the batch's, with its file
    QVERIFY(TestFiles::write(trash + "/files/p2.jpg", "kept"));
    QVERIFY(info("other.jpg", path("elsewhere/other.jpg"))); // another folder's
    // Cut short while it was written.
    QVERIFY(TestFiles::write(trash + "/info/p3.jpg.trashinfo",
                             "[Trash Info]\nPath=" + FileNames::encode(photos)));
    const RecoveryReport report = recoverBatch(m_files, dead);
    QVERIFY2(report.problems.isEmpty(), qPrintable(report.problems.join('\n')));
    QCOMPARE(TestFiles::names(trash + "/info"),
             (QStringList{"other.jpg.trashinfo", "p2.jpg.trashinfo"}));
}

void BatchJournalTest::aJournalThatIsALinkIsNotActedOn()
{
    // Someone else puts a link under a journal's name in a shared program folder, to a file of
    // the user's own whose content they chose (a file the user copied from them): it is no
    // journal of a batch.
    if (::geteuid() != 0)
        QSKIP("giving a link to another user needs root");
    const QString program = path("program"), photos = path("photos");
    QVERIFY(QDir().mkpath(program) && QDir().mkpath(photos));
    BatchJournal planted = journalFor(photos);
    planted.kept.push_back({planted.keptPath(1), photos + "/victim.txt", photos + "/x.jpg"});
    QVERIFY(TestFiles::write(planted.kept[0].kept, "planted"));
    QVERIFY(TestFiles::write(photos + "/copied.jpg", planted.toBytes()));
    const QString journal = BatchJournal::pathIn(program, planted.id);
    QVERIFY(QFile::link(photos + "/copied.jpg", journal));
    QVERIFY(::lchown(FileNames::encode(journal).constData(), 65534, 65534) == 0);
    QVERIFY(recoverAbandonedBatches(m_files, program).isEmpty());
    QVERIFY(!QFile::exists(photos + "/victim.txt"));
    QCOMPARE(TestFiles::read(planted.kept[0].kept), QByteArray("planted"));
}

QTEST_GUILESS_MAIN(BatchJournalTest)
#include "tst_batchjournal.moc"
