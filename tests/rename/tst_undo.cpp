#include "childprocess.h"
#include "doubles.h"
#include "exfatdrive.h"
#include "filenames.h"
#include "quietjob.h"
#include "renamejob.h"
#include "testfiles.h"
#include "undo.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

/// A result of one copy per item from /s into /t, `name` the item's new name.
JobAction copiedTo(const QString &name, int item = 0)
{
    JobAction action;
    action.kind = JobAction::Kind::Copied;
    action.from = action.source = QStringLiteral("a");
    action.to = name;
    action.item = item;
    return action;
}

JobResult copyingBatch(int files)
{
    JobResult result;
    result.filesDone = files;
    result.folders = {QStringLiteral("/s"), QStringLiteral("/t")};
    return result;
}

/// Real batches on real folders, with the trash in the test's own folder.
struct Fixture
{
    Fixture() : job(files, progress, messages, host, program())
    {
        for (const char *folder : {"src", "dst", "program", "data"})
            QDir(root.path()).mkdir(QLatin1String(folder));
        qputenv("XDG_DATA_HOME", QFile::encodeName(root.path() + "/data"));
    }
    ~Fixture() { TestFiles::removeTree(QFile::encodeName(root.path())); }
    QString src() const { return root.path() + "/src"; }
    QString dst() const { return root.path() + "/dst"; }
    QString program() const { return root.path() + "/program"; }

    /// Files in the source folder, each holding its own name.
    RenameRequest request(const QStringList &names, bool sameFolder, bool move)
    {
        RenameRequest r;
        r.baseName = QStringLiteral("p");
        r.startNumberText = QStringLiteral("1");
        r.digitCountText = QStringLiteral("1");
        r.extension = QStringLiteral("jpg");
        r.sourceFolder = src();
        r.targetFolder = sameFolder ? src() : dst();
        r.move = move;
        for (const QString &name : names) {
            if (!QFileInfo::exists(src() + "/" + name))
                TestFiles::write(src() + "/" + name, name.toUtf8());
            r.entries.push_back({name, true});
        }
        return r;
    }

    /// Every visible file of both folders with its content.
    QStringList state() const
    {
        QStringList all;
        for (const QString &folder : {src(), dst()}) {
            for (const QString &name : TestFiles::names(folder)) {
                if (!name.startsWith('.'))
                    all.append(folder.mid(root.path().size()) + "/" + name + "=" +
                               QString::fromUtf8(TestFiles::read(folder + "/" + name)));
            }
        }
        return all;
    }

    UndoEntry runAndRecord(const RenameRequest &r)
    {
        const JobResult result = job.run(r);
        UndoHistory history;
        history.push(result);
        return history.isEmpty() ? UndoEntry{} : history.newest();
    }

    QTemporaryDir root;
    FaultyFileOperations files;
    RecordingMessageBoxes messages;
    QuietProgress progress;
    QuietHost host;
    RenameJob job;
};

/// Every batch of the history, oldest first, each read whole as the newest.
std::vector<UndoEntry> batchesOf(UndoHistory history)
{
    std::vector<UndoEntry> batches;
    for (; !history.isEmpty(); history.dropNewest())
        batches.insert(batches.begin(), history.newest());
    return batches;
}

} // namespace

class UndoTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void undoPutsEveryNameBack_data();
    void undoPutsEveryNameBack();
    void replacedFilesComeBackFromTheTrash_data();
    void replacedFilesComeBackFromTheTrash();
    void aFileOnlyLikeASourceGoesToTheTrash();
    void trashEntriesNameTheFolderWhereItIsNow();
    void filesChangedSinceAreLeftAlone_data();
    void filesChangedSinceAreLeftAlone();
    void copiesOnDrivesWithCoarseTimesAreUndone_data();
    void copiesOnDrivesWithCoarseTimesAreUndone();
    void aSourceRemovedSinceIsNotMadeAgain();
    void linksComeBackAsLinks_data();
    void linksComeBackAsLinks();
    void historySurvivesARestart();
    void historyKeepsTheLastTwentyBatches();
    void damagedHistoryUndoesNothing();
    void aRemadeLinkShowingOtherBytesKeepsTheCopy();
    void aMadeUpHistoryMovesNothing_data();
    void aMadeUpHistoryMovesNothing();
    void onlyTheTrashedFileComesBack();
    void undoActsOnlyInTheBatchsOwnFolders_data();
    void undoActsOnlyInTheBatchsOwnFolders();
    void aFileThatTurnsUpDuringTheBatchGoesToTheTrash();
    void theHistoryStaysSmall();
    void replacedFilesNoTrashCouldKeepAreCounted();
    void aNewVersionSavedUnderACarriedNameGoesToTheTrash();
    void foldersThatOnlyLookAlikeLoseNothing();
    void theHistoryStaysWithinItsByteLimit();
    void historiesWrittenWithoutIdsStillRead();
    void aBatchWhoseUndoCouldNotStartGoesBackInItsPlace();
    void anUndoOnADriveReadOnlyForNowCanBeTriedAgain_data();
    void anUndoOnADriveReadOnlyForNowCanBeTriedAgain();
    void anUndoWhoseFolderIsAwayWaitsOnlyForADrive_data();
    void anUndoWhoseFolderIsAwayWaitsOnlyForADrive();
    void aDataHomeSpelledWithDotsIsStillTheTrash();
    void anUndoInAnotherDesktopSessionWaitsForItsTrash();
    void aKilledChangesTemporaryGoesAtTheNextChange();
    void twoRunsAtOnceLoseNoBatch();
    void theUsersHistoryOnADriveWithoutPermissionsIsUsed();
    void undoOnADriveIgnoringCaseBringsBackTheSpellings();
    void copiesOnACardPutInAgainAreUndone();
    void aCardLoosensOnlyTheChecksOfItsOwnFiles();
};

void UndoTest::undoPutsEveryNameBack_data()
{
    QTest::addColumn<bool>("sameFolder");
    QTest::addColumn<bool>("move");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("two folders/copy") << false << false << QStringList{"a.jpg", "b.jpg"};
    QTest::newRow("two folders/move") << false << true << QStringList{"a.jpg", "b.jpg"};
    // p1..p3 become p2..p4 in their own folder: a chain of names.
    QTest::newRow("one folder/renumber, copy")
        << true << false << QStringList{"p0.jpg", "p1.jpg", "p2.jpg"};
    QTest::newRow("one folder/renumber, move")
        << true << true << QStringList{"p0.jpg", "p1.jpg", "p2.jpg"};
    // b.jpg and a.jpg trade names: a cycle.
    QTest::newRow("one folder/swap, move") << true << true << QStringList{"p2.jpg", "p1.jpg"};
}

void UndoTest::undoPutsEveryNameBack()
{
    QFETCH(bool, sameFolder);
    QFETCH(bool, move);
    QFETCH(QStringList, names);
    Fixture f;
    QVERIFY(f.root.isValid());
    RenameRequest r = f.request(names, sameFolder, move);
    const QStringList before = f.state();
    const UndoEntry entry = f.runAndRecord(r);
    QVERIFY2(f.state() != before, "the batch changed nothing");
    QCOMPARE(entry.files, int(names.size()));
    const UndoReport report = undoBatch(f.files, entry, f.program());
    QVERIFY2(report.leftAlone.isEmpty(), qPrintable(report.leftAlone.join('\n')));
    QCOMPARE(report.undone, int(names.size()));
    QCOMPARE(f.state(), before);
    QVERIFY(TestFiles::names(f.program()).isEmpty());
    QVERIFY(TestFiles::names(f.src()).filter(QRegularExpression("^\\.")).isEmpty());
    QVERIFY(TestFiles::names(f.dst()).filter(QRegularExpression("^\\.")).isEmpty());
}

void UndoTest::replacedFilesComeBackFromTheTrash_data()
{
    QTest::addColumn<bool>("move");
    QTest::newRow("copy") << false;
    QTest::newRow("move") << true;
}

void UndoTest::replacedFilesComeBackFromTheTrash()
{
    QFETCH(bool, move);
    Fixture f;
    QVERIFY(TestFiles::write(f.dst() + "/p1.jpg", "an older photo"));
    RenameRequest r = f.request({"a.jpg", "b.jpg"}, false, move);
    const QStringList before = f.state();
    const UndoEntry entry = f.runAndRecord(r);
    QCOMPARE(TestFiles::read(f.dst() + "/p1.jpg"), QByteArray("a.jpg"));
    // The replaced file waits in the trash, with where it came from.
    const QString trashFiles = f.root.path() + "/data/Trash/files";
    QCOMPARE(TestFiles::names(trashFiles), QStringList{"p1.jpg"});
    QCOMPARE(TestFiles::read(trashFiles + "/p1.jpg"), QByteArray("an older photo"));
    QVERIFY(TestFiles::read(f.root.path() + "/data/Trash/info/p1.jpg.trashinfo")
                .contains("Path=" + QFile::encodeName(f.dst()) + "/p1.jpg"));

    const UndoReport report = undoBatch(f.files, entry, f.program());
    QVERIFY2(report.leftAlone.isEmpty(), qPrintable(report.leftAlone.join('\n')));
    QCOMPARE(f.state(), before);
    QVERIFY(TestFiles::names(trashFiles).isEmpty());
    QVERIFY(TestFiles::names(f.root.path() + "/data/Trash/info").isEmpty());
}

void UndoTest::trashEntriesNameTheFolderWhereItIsNow()
{
    // 200 files replace older ones, and the target folder is renamed halfway: what went to the
    // trash after the rename came from the folder under its new name, and a file manager's
    // restore must find it there.
    Fixture f;
    QStringList names;
    for (int i = 1; i <= 200; ++i) {
        names.append(QStringLiteral("a%1.jpg").arg(i, 3, 10, QLatin1Char('0')));
        QVERIFY(TestFiles::write(f.dst() + QStringLiteral("/p%1.jpg").arg(i), "older"));
    }
    RenameRequest r = f.request(names, false, false);
    r.overwrite = true;
    const QString moved = f.root.path() + "/moved";
    int changes = 0;
    f.files.failWhen = [&](FaultyFileOperations::Op op, const QString &) {
        if (op != FaultyFileOperations::Op::List && op != FaultyFileOperations::Op::Read &&
            ++changes == 100)
            QDir().rename(f.dst(), moved);
        return false;
    };
    const JobResult result = f.job.run(r);
    QCOMPARE(result.outcome, JobResult::Outcome::Completed);
    QVERIFY2(QFileInfo::exists(moved), "the folder was renamed before the batch ended");
    const QString info = f.root.path() + "/data/Trash/info/";
    QVERIFY(TestFiles::read(info + "p1.jpg.trashinfo")
                .contains("Path=" + QFile::encodeName(f.dst()) + "/p1.jpg\n"));
    QVERIFY(TestFiles::read(info + "p200.jpg.trashinfo")
                .contains("Path=" + QFile::encodeName(moved) + "/p200.jpg\n"));
}

void UndoTest::aFileOnlyLikeASourceGoesToTheTrash()
{
    Fixture f;
    // p1.jpg differs from the source P1.jpg only in letter case: it is another file here, and
    // x.jpg's copy replaces it.
    QVERIFY(TestFiles::write(f.src() + "/p1.jpg", "not a source"));
    RenameRequest r = f.request({"x.jpg", "P1.jpg"}, true, false);
    r.startNumberText = QStringLiteral("1");
    const QStringList before = f.state();
    const UndoEntry entry = f.runAndRecord(r);
    QCOMPARE(TestFiles::read(f.src() + "/p1.jpg"), QByteArray("x.jpg"));
    QCOMPARE(TestFiles::read(f.root.path() + "/data/Trash/files/p1.jpg"),
             QByteArray("not a source"));
    QVERIFY(undoBatch(f.files, entry, f.program()).leftAlone.isEmpty());
    QCOMPARE(f.state(), before);
}

void UndoTest::filesChangedSinceAreLeftAlone_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("content") << "content";
    QTest::newRow("modification time") << "time";
    QTest::newRow("replaced by another file") << "replaced";
}

void UndoTest::filesChangedSinceAreLeftAlone()
{
    QFETCH(QString, change);
    for (const bool move : {false, true}) {
        Fixture f;
        RenameRequest r = f.request({"a.jpg", "b.jpg"}, false, move);
        const UndoEntry entry = f.runAndRecord(r);
        const QString changed = f.dst() + "/p1.jpg";
        const QByteArray path = QFile::encodeName(changed);
        if (change == "content") {
            // Same size, so only the modification time can tell.
            const int fd = ::open(path.constData(), O_WRONLY);
            QVERIFY(fd >= 0);
            QCOMPARE(::write(fd, "A", 1), ssize_t(1));
            ::close(fd);
        } else if (change == "time") {
            const struct timespec times[2] = {{0, UTIME_OMIT}, {1234567, 0}};
            QCOMPARE(::utimensat(AT_FDCWD, path.constData(), times, 0), 0);
        } else {
            QVERIFY(QFile::remove(changed));
            QVERIFY(TestFiles::write(changed, "a.jpg"));
        }
        const QByteArray changedContent = TestFiles::read(changed);
        const UndoReport report = undoBatch(f.files, entry, f.program());
        QCOMPARE(report.leftAlone.size(), 1);
        QVERIFY2(report.leftAlone.first().contains(changed), qPrintable(report.leftAlone.first()));
        // The batch has left the history: the message says what that means for what is left.
        QVERIFY(undoMessage(report).contains("元に戻す記録には残っていません"));
        // The changed file stays as it is; the other one is undone.
        QCOMPARE(TestFiles::read(changed), changedContent);
        QVERIFY(!QFileInfo::exists(f.dst() + "/p2.jpg"));
        QCOMPARE(TestFiles::read(f.src() + "/b.jpg"), QByteArray("b.jpg"));
        QCOMPARE(QFileInfo::exists(f.src() + "/a.jpg"), !move);
    }
}

void UndoTest::copiesOnDrivesWithCoarseTimesAreUndone_data()
{
    // What the drive keeps of the time 12:00:01.123456789 the copy was given.
    QTest::addColumn<qint64>("keptNs");
    QTest::addColumn<bool>("undone");
    const qint64 given = 1'700'000'001'123'456'789;
    QTest::newRow("NTFS, 100 ns") << given - 89 << true;
    QTest::newRow("exFAT, 10 ms") << given - 3'456'789 << true;
    QTest::newRow("exFAT through FUSE, 1 s") << given - 123'456'789 << true;
    QTest::newRow("FAT, 2 s") << given - 1'123'456'789 << true;
    QTest::newRow("changed since") << given + 1'000 << false;
}

void UndoTest::copiesOnDrivesWithCoarseTimesAreUndone()
{
    // The record holds the time the copy was given; a drive that cuts it is no change.
    QFETCH(qint64, keptNs);
    QFETCH(bool, undone);
    Fixture f;
    RenameRequest r = f.request({"a.jpg"}, false, false);
    const QByteArray source = QFile::encodeName(f.src() + "/a.jpg");
    const struct timespec given[2] = {{0, UTIME_OMIT}, {1'700'000'001, 123'456'789}};
    QCOMPARE(::utimensat(AT_FDCWD, source.constData(), given, 0), 0);
    const UndoEntry entry = f.runAndRecord(r);
    const QByteArray copy = QFile::encodeName(f.dst() + "/p1.jpg");
    const struct timespec kept[2] = {{0, UTIME_OMIT},
                                     {keptNs / 1'000'000'000, keptNs % 1'000'000'000}};
    QCOMPARE(::utimensat(AT_FDCWD, copy.constData(), kept, 0), 0);
    const UndoReport report = undoBatch(f.files, entry, f.program());
    QCOMPARE(QFileInfo::exists(f.dst() + "/p1.jpg"), !undone);
    QCOMPARE(report.undone, undone ? 1 : 0);
    // A copy changed since is no reason to keep the batch: older ones must stay reachable.
    QCOMPARE(report.started, undone);
    QVERIFY(!report.tryAgainLater);
}

void UndoTest::aSourceRemovedSinceIsNotMadeAgain()
{
    Fixture f;
    RenameRequest r = f.request({"a.jpg"}, false, false);
    const UndoEntry entry = f.runAndRecord(r);
    QVERIFY(QFile::remove(f.src() + "/a.jpg"));
    const UndoReport report = undoBatch(f.files, entry, f.program());
    // The copy is the only one left: it stays under its new name.
    QCOMPARE(report.undone, 0);
    QCOMPARE(report.leftAlone.size(), 1);
    QCOMPARE(TestFiles::read(f.dst() + "/p1.jpg"), QByteArray("a.jpg"));
    QVERIFY(!QFileInfo::exists(f.src() + "/a.jpg"));
}

void UndoTest::linksComeBackAsLinks_data()
{
    QTest::addColumn<QStringList>("moved");
    QTest::newRow("the link") << QStringList{"l.jpg"};
    // The link goes home before the file it points to: its content is compared after both.
    QTest::newRow("the link and its file") << QStringList{"a.jpg", "l.jpg"};
}

void UndoTest::linksComeBackAsLinks()
{
    QFETCH(QStringList, moved);
    Fixture f;
    QVERIFY(TestFiles::write(f.src() + "/a.jpg", "real"));
    QCOMPARE(::symlink("a.jpg", QFile::encodeName(f.src() + "/l.jpg").constData()), 0);
    RenameRequest r = f.request(moved, false, true);
    const UndoEntry entry = f.runAndRecord(r);
    QVERIFY(!QFileInfo(f.src() + "/l.jpg").isSymLink());
    const UndoReport report = undoBatch(f.files, entry, f.program());
    QVERIFY2(report.leftAlone.isEmpty(), qPrintable(report.leftAlone.join('\n')));
    QCOMPARE(report.undone, int(moved.size()));
    QCOMPARE(QFileInfo(f.src() + "/l.jpg").symLinkTarget(), f.src() + "/a.jpg");
    QCOMPARE(TestFiles::names(f.dst()), QStringList{});
    QCOMPARE(TestFiles::read(f.src() + "/a.jpg"), QByteArray("real"));
}

void UndoTest::historySurvivesARestart()
{
    Fixture f;
    const QString path = f.program() + "/" + UndoHistory::fileName;
    const RenameRequest first = f.request({"a.jpg", "b.jpg"}, false, true);
    TestFiles::write(f.src() + "/c.jpg", "c.jpg");
    const QStringList before = f.state();
    {
        UndoHistoryFile history(f.files, path);
        QVERIFY(history.record(f.job.run(first)));
        QVERIFY(history.record(f.job.run(f.request({"c.jpg"}, false, false))));
    }
    UndoHistory restarted;
    QVERIFY(UndoHistoryFile(f.files, path).read(restarted));
    QCOMPARE(restarted.size(), size_t(2));
    QCOMPARE(restarted.newest().files, 1);
    // Newest first: the copy of c.jpg, then the move of a.jpg and b.jpg.
    QVERIFY(undoBatch(f.files, restarted.newest(), f.program()).leftAlone.isEmpty());
    restarted.dropNewest();
    QVERIFY(undoBatch(f.files, restarted.newest(), f.program()).leftAlone.isEmpty());
    restarted.dropNewest();
    QVERIFY(restarted.isEmpty());
    QCOMPARE(f.state(), before);
}

void UndoTest::historyKeepsTheLastTwentyBatches()
{
    UndoHistory history;
    for (int i = 0; i < 25; ++i) {
        JobResult result = copyingBatch(i);
        result.record.push_back(copiedTo("b"));
        history.push(result);
    }
    // A batch that changed nothing is not kept.
    history.push(JobResult{});
    const UndoHistory back = UndoHistory::fromBytes(history.toBytes());
    QCOMPARE(back.size(), size_t(UndoHistory::capacity));
    QCOMPARE(back.newest().files, 24);
    QCOMPARE(back.newest().folders.toPath(back.newest().record.front()), QString("/t/b"));
}

void UndoTest::damagedHistoryUndoesNothing()
{
    UndoHistory history;
    JobResult result = copyingBatch(1);
    JobAction moved = copiedTo("b c");
    moved.kind = JobAction::Kind::Moved;
    moved.from = moved.source = "a\nb";
    moved.replaced = true;
    moved.inTrash = std::make_shared<const JobAction::InTrash>("/trash/files/x", FileStatus{});
    result.record.push_back(moved);
    history.push(result);
    const QByteArray bytes = history.toBytes();
    const UndoHistory back = UndoHistory::fromBytes(bytes);
    QCOMPARE(back.size(), size_t(1));
    QCOMPARE(back.newest().folders.fromPath(back.newest().record.front()), QString("/s/a\nb"));
    QCOMPARE(back.newest().record.front().trashedAs(), QString("/trash/files/x"));
    // Cut short or altered, it is not trusted at all.
    QVERIFY(UndoHistory::fromBytes(bytes.left(bytes.size() - 5)).isEmpty());
    // A line altered in its fields: that batch moves nothing.
    QByteArray altered = bytes;
    altered.replace(" 0 ", " x ");
    QVERIFY(UndoHistory::fromBytes(altered).newest().damaged);

    // An older batch altered in a way only a full reading finds is read when it becomes the
    // newest: the newer batch still undoes, the altered one moves nothing.
    UndoHistory two;
    for (int files : {1, 2}) {
        JobResult batch = copyingBatch(files);
        batch.record.push_back(copiedTo("b"));
        two.push(batch);
    }
    QByteArray olderAltered = two.toBytes();
    const qsizetype firstAction = olderAltered.indexOf("\na ") + 1;
    olderAltered.replace(olderAltered.indexOf(" 0 ", firstAction), 3, " x ");
    UndoHistory read = UndoHistory::fromBytes(olderAltered);
    QCOMPARE(read.size(), size_t(2));
    QVERIFY(!read.newest().damaged);
    QCOMPARE(read.newest().files, 2);
    // Carried through unread, byte for byte.
    QCOMPARE(read.toBytes(), olderAltered);
    read.dropNewest();
    QVERIFY(read.newest().damaged);
    QVERIFY(read.newest().record.empty());
    // Written back and read again, it stays one damaged batch, not a damaged file.
    const UndoHistory again = UndoHistory::fromBytes(read.toBytes());
    QCOMPARE(again.size(), size_t(1));
    QVERIFY(again.newest().damaged);
}

void UndoTest::aRemadeLinkShowingOtherBytesKeepsTheCopy()
{
    Fixture f;
    QVERIFY(TestFiles::write(f.src() + "/real.dat", "the only copy of a photo"));
    QCOMPARE(::symlink("real.dat", QFile::encodeName(f.src() + "/l.jpg").constData()), 0);
    RenameRequest r = f.request({"l.jpg"}, false, true);
    const UndoEntry entry = f.runAndRecord(r);
    // The photo now lives under its new name only.
    QVERIFY(QFile::remove(f.src() + "/real.dat"));
    const UndoReport report = undoBatch(f.files, entry, f.program());
    QCOMPARE(report.leftAlone.size(), 1);
    QCOMPARE(TestFiles::read(f.dst() + "/p1.jpg"), QByteArray("the only copy of a photo"));
    QCOMPARE(QFileInfo(f.src() + "/l.jpg").symLinkTarget(), f.src() + "/real.dat");
}

void UndoTest::aMadeUpHistoryMovesNothing_data()
{
    QTest::addColumn<QByteArray>("line");
    // Each line would have the undo take a file it never wrote.
    QTest::newRow("new names in two folders") << QByteArray("two folders");
    QTest::newRow("a path climbing out") << QByteArray("dot dot");
    QTest::newRow("a trash name outside a trash") << QByteArray("trash");
    QTest::newRow("a trash name in any files folder") << QByteArray("files folder");
    QTest::newRow("a trash name under a .Trash-uid that tops no drive")
        << QByteArray("trash elsewhere");
    QTest::newRow("a trash name through a link to another drive") << QByteArray("linked trash");
    QTest::newRow("a content brought back from elsewhere") << QByteArray("restored");
}

void UndoTest::aMadeUpHistoryMovesNothing()
{
    QFETCH(QByteArray, line);
    Fixture f;
    // Through a link to a folder on another drive, any .Trash-uid there looks like a drive's.
    const auto drive =
        line == "linked trash" ? TestFiles::folderOnAnotherDrive(f.root.path()) : nullptr;
    if (line == "linked trash" && !drive)
        QSKIP("no second file system in /dev/shm here");
    const QString trashed = QStringLiteral("/.Trash-%1/files/a.odt").arg(::geteuid());
    const QString victim = line == "linked trash"      ? drive->path() + "/deep" + trashed
                           : line == "files folder"    ? f.root.path() + "/docs/files/thesis.odt"
                           : line == "trash elsewhere" ? f.root.path() + "/docs" + trashed
                                                       : f.root.path() + "/victim/thesis.odt";
    QVERIFY(QDir().mkpath(QFileInfo(victim).path()));
    if (drive)
        QVERIFY(QFile::link(drive->path() + "/deep", f.root.path() + "/link"));
    QVERIFY(TestFiles::write(victim, "years of work"));
    RenameRequest r = f.request({"a.jpg"}, false, true);
    const UndoEntry entry = f.runAndRecord(r);
    UndoHistory history;
    JobResult result;
    result.filesDone = 2;
    result.folders = entry.folders;
    result.record = entry.record;
    history.push(result);
    // The history file is the user's own: anyone who can write it can write any line. The
    // forged line copies the batch's own and changes one thing, with the victim's identity.
    QByteArray bytes = history.toBytes();
    const qsizetype lineStart = bytes.lastIndexOf("\na ") + 1;
    const qsizetype lineEnd = bytes.indexOf('\n', lineStart);
    QList<QByteArray> fields = bytes.mid(lineStart, lineEnd - lineStart).split(' ');
    const FileStatus victimStatus = f.files.status(victim, false);
    const QList<QByteArray> identity{
        QByteArray::number(int(victimStatus.type)),  QByteArray::number(victimStatus.device),
        QByteArray::number(victimStatus.inode),      QByteArray::number(victimStatus.size),
        QByteArray::number(victimStatus.modifiedNs), QByteArray::number(victimStatus.links)};
    const QList<QByteArray> written = fields.mid(6, 6);
    for (int i = 0; i < 6; ++i)
        fields[6 + i] = identity[i];
    const QByteArray victimPath =
        FileNames::encode(drive ? f.root.path() + "/link" + trashed : victim);
    if (line == "two folders") {
        fields[5] = victimPath;
    } else if (line == "dot dot") {
        fields[5] = FileNames::encode(f.dst()) + "/../victim/thesis.odt";
    } else if (line == "trash" || line == "files folder" || line == "trash elsewhere" ||
               line == "linked trash") {
        // The batch's own file as written, and the victim as what it replaced.
        fields[12] = "1";
        fields[13] = victimPath;
        for (int i = 0; i < 6; ++i) {
            fields[6 + i] = written[i];
            fields[14 + i] = identity[i];
        }
    } else {
        // "Brought back" to a name outside the batch: an undo would move the victim there.
        fields[1] = QByteArray::number(int(JobAction::Kind::Restored));
        fields[3] = fields[4] = FileNames::encode(f.root.path()) + "/victim/elsewhere.odt";
        fields[5] = victimPath;
    }
    bytes.insert(lineEnd + 1, fields.join(' ') + '\n');
    const UndoEntry read = UndoHistory::fromBytes(bytes).newest();
    const UndoReport report = undoBatch(f.files, read, f.program());
    QVERIFY(!report.started);
    QCOMPARE(TestFiles::read(victim), QByteArray("years of work"));
    QCOMPARE(TestFiles::read(f.dst() + "/p1.jpg"), QByteArray("a.jpg"));
}

void UndoTest::undoActsOnlyInTheBatchsOwnFolders_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("target folder swapped for a new one") << "new target";
    QTest::newRow("source folder swapped for a link to another folder") << "linked source";
    QTest::newRow("a file put where a brought-back file stood") << "restored";
}

void UndoTest::undoActsOnlyInTheBatchsOwnFolders()
{
    // After the batch, someone swaps a folder of the batch (a shared folder, another user's
    // folder behind a link), or the history claims a brought-back file that is another file:
    // the undo moves nothing into, or out of, what is not the batch's.
    QFETCH(QString, change);
    Fixture f;
    QVERIFY(QDir(f.root.path()).mkdir("loot"));
    const QString loot = f.root.path() + "/loot";
    UndoEntry entry = f.runAndRecord(f.request({"a.jpg", "b.jpg"}, false, true));
    QCOMPARE(TestFiles::names(f.dst()), (QStringList{"p1.jpg", "p2.jpg"}));
    if (change == "new target") {
        QVERIFY(QDir().rename(f.dst(), f.dst() + ".x"));
        QVERIFY(QDir().mkdir(f.dst()));
        QVERIFY(TestFiles::write(f.dst() + "/p1.jpg", "someone else's"));
    } else if (change == "linked source") {
        QVERIFY(QDir().rename(f.src(), f.src() + ".x"));
        QVERIFY(QFile::link(loot, f.src()));
    } else {
        QVERIFY(TestFiles::write(f.dst() + "/other.jpg", "someone else's"));
        JobAction restored;
        restored.kind = JobAction::Kind::Restored;
        restored.from = restored.source = QStringLiteral("gone.jpg");
        restored.to = QStringLiteral("other.jpg");
        entry.record.push_back(restored);
    }
    const UndoReport report = undoBatch(f.files, entry, f.program());
    QVERIFY2(!report.leftAlone.isEmpty(), "the undo says what it left");
    QCOMPARE(TestFiles::names(loot), QStringList{});
    if (change == "new target") {
        QVERIFY(!report.started);
        QCOMPARE(TestFiles::names(f.dst()), QStringList{"p1.jpg"});
        QCOMPARE(TestFiles::read(f.dst() + "/p1.jpg"), QByteArray("someone else's"));
        QCOMPARE(TestFiles::names(f.dst() + ".x"), (QStringList{"p1.jpg", "p2.jpg"}));
    } else if (change == "linked source") {
        QVERIFY(!report.started);
        QCOMPARE(TestFiles::names(f.dst()), (QStringList{"p1.jpg", "p2.jpg"}));
    } else {
        QCOMPARE(TestFiles::read(f.dst() + "/other.jpg"), QByteArray("someone else's"));
        QVERIFY(!QFileInfo::exists(f.src() + "/gone.jpg"));
        QCOMPARE(TestFiles::names(f.src()), (QStringList{"a.jpg", "b.jpg"}));
    }
}

void UndoTest::onlyTheTrashedFileComesBack()
{
    Fixture f;
    QVERIFY(TestFiles::write(f.dst() + "/p1.jpg", "an older photo"));
    const UndoEntry entry = f.runAndRecord(f.request({"a.jpg"}, false, false));
    // The trash was emptied, and another file of that name was put there since.
    const QString trashed = f.root.path() + "/data/Trash/files/p1.jpg";
    QVERIFY(QFile::remove(trashed));
    QVERIFY(TestFiles::write(trashed, "a family picture trashed from elsewhere"));
    const UndoReport report = undoBatch(f.files, entry, f.program());
    QCOMPARE(report.leftAlone.size(), 1);
    QCOMPARE(TestFiles::read(trashed), QByteArray("a family picture trashed from elsewhere"));
    QVERIFY(!QFileInfo::exists(f.dst() + "/p1.jpg"));
}

void UndoTest::aFileThatTurnsUpDuringTheBatchGoesToTheTrash()
{
    for (const bool move : {false, true}) {
        Fixture f;
        RenameRequest r = f.request({"a.jpg", "b.jpg"}, false, move);
        // While a.jpg is written, another program delivers p2.jpg.
        f.files.failWhen = [&](FaultyFileOperations::Op op, const QString &path) {
            if ((op == FaultyFileOperations::Op::Copy || op == FaultyFileOperations::Op::Move) &&
                path.endsWith("/p1.jpg"))
                TestFiles::write(f.dst() + "/p2.jpg", "a file that just arrived");
            return false;
        };
        const JobResult result = f.job.run(r);
        QCOMPARE(result.outcome, JobResult::Outcome::Completed);
        QCOMPARE(TestFiles::read(f.dst() + "/p2.jpg"), QByteArray("b.jpg"));
        QCOMPARE(TestFiles::read(f.root.path() + "/data/Trash/files/p2.jpg"),
                 QByteArray("a file that just arrived"));
    }
}

void UndoTest::theHistoryStaysSmall()
{
    UndoHistory history;
    const auto batchOf = [](int actions) {
        JobResult result = copyingBatch(actions);
        for (int i = 0; i < actions; ++i)
            result.record.push_back(copiedTo("b", i));
        return result;
    };
    for (int i = 0; i < 3; ++i)
        history.push(batchOf(40000));
    // 120,000 actions are too many: the oldest batch goes.
    QCOMPARE(history.size(), size_t(2));
    // One batch larger than everything is still kept on its own.
    history.push(batchOf(UndoHistory::actionCapacity + 5));
    QCOMPARE(history.size(), size_t(1));
    QCOMPARE(history.newest().files, UndoHistory::actionCapacity + 5);
}

void UndoTest::replacedFilesNoTrashCouldKeepAreCounted()
{
    Fixture f;
    // No usable trash: its folder would have to be made inside a file.
    QVERIFY(TestFiles::write(f.root.path() + "/data/Trash", "not a folder"));
    QVERIFY(TestFiles::write(f.dst() + "/p1.jpg", "old one"));
    QVERIFY(TestFiles::write(f.dst() + "/p2.jpg", "old two"));
    const JobResult result = f.job.run(f.request({"a.jpg", "b.jpg", "c.jpg"}, false, false));
    QCOMPARE(result.outcome, JobResult::Outcome::Completed);
    QCOMPARE(result.replacedNotKept, 2);
    QCOMPARE(f.messages.informed,
             QStringList{"リネームが完了しました。\r\n置き換えたファイルのうち 2 件は、"
                         "ごみ箱に残せませんでした。"});
    QCOMPARE(TestFiles::read(f.dst() + "/p2.jpg"), QByteArray("b.jpg"));
}

void UndoTest::aNewVersionSavedUnderACarriedNameGoesToTheTrash()
{
    Fixture f;
    // p1, p2 become p2, p3 in one folder: p2.jpg is kept aside and then written over.
    RenameRequest r = f.request({"p1.jpg", "p2.jpg"}, true, false);
    r.startNumberText = QStringLiteral("2");
    // While p1 is copied, another program saves a new version of p2.jpg the usual way.
    f.files.failWhen = [&](FaultyFileOperations::Op op, const QString &path) {
        if (op == FaultyFileOperations::Op::Copy && path.endsWith("/p2.jpg")) {
            TestFiles::write(f.src() + "/.p2.new", "a new version of p2");
            QFile::remove(f.src() + "/p2.jpg");
            QFile::rename(f.src() + "/.p2.new", f.src() + "/p2.jpg");
        }
        return false;
    };
    QCOMPARE(f.job.run(r).outcome, JobResult::Outcome::Completed);
    QCOMPARE(TestFiles::read(f.src() + "/p2.jpg"), QByteArray("p1.jpg"));
    QCOMPARE(TestFiles::read(f.src() + "/p3.jpg"), QByteArray("p2.jpg"));
    QCOMPARE(TestFiles::read(f.root.path() + "/data/Trash/files/p2.jpg"),
             QByteArray("a new version of p2"));
}

void UndoTest::foldersThatOnlyLookAlikeLoseNothing()
{
    Fixture f;
    // A backup with the same names, sizes and times, but other contents.
    const struct timespec times[2] = {{0, UTIME_OMIT}, {315532800, 0}};
    for (const char *name : {"1.bmp", "2.bmp"}) {
        QVERIFY(TestFiles::write(f.src() + "/" + name, QByteArray("SET-A frame ") + name[0]));
        QVERIFY(TestFiles::write(f.dst() + "/" + name, QByteArray("SET-B frame ") + name[0]));
        for (const QString &folder : {f.src(), f.dst()})
            QCOMPARE(
                ::utimensat(AT_FDCWD, QFile::encodeName(folder + "/" + name).constData(), times, 0),
                0);
    }
    RenameRequest r = f.request({"1.bmp", "2.bmp"}, false, false);
    r.baseName.clear();
    r.startNumberText = QStringLiteral("2");
    r.extension = QStringLiteral("bmp");
    QCOMPARE(f.job.run(r).outcome, JobResult::Outcome::Completed);
    QCOMPARE(TestFiles::read(f.dst() + "/2.bmp"), QByteArray("SET-A frame 1"));
    QCOMPARE(TestFiles::read(f.dst() + "/3.bmp"), QByteArray("SET-A frame 2"));
    QCOMPARE(TestFiles::read(f.root.path() + "/data/Trash/files/2.bmp"),
             QByteArray("SET-B frame 2"));
}

void UndoTest::theHistoryStaysWithinItsByteLimit()
{
    // Every action names a far path whose spaces the file spells as %20: about 12 KB each.
    const QString far = QString(4000, ' ');
    const auto batchOf = [&](int actions) {
        JobResult result = copyingBatch(actions);
        for (int i = 0; i < actions; ++i)
            result.record.push_back(copiedTo(far, i));
        return result;
    };
    UndoHistory history;
    for (int i = 0; i < 3; ++i)
        QVERIFY(history.push(batchOf(2000)));
    // Three are over the limit: the oldest goes.
    QCOMPARE(history.size(), size_t(2));
    QVERIFY(history.toBytes().size() <= UndoHistory::byteCapacity);
    QVERIFY(history.toBytes().size() > UndoHistory::byteCapacity / 2);
    // One batch over the limit on its own is not kept, and pushes nothing out.
    QVERIFY(!history.push(batchOf(6000)));
    QCOMPARE(history.size(), size_t(2));
    Fixture f;
    const OpResult recorded =
        UndoHistoryFile(f.files, f.program() + "/" + UndoHistory::fileName).record(batchOf(6000));
    QVERIFY(!recorded);
    QCOMPARE(recorded.error, QString("記録が大きすぎます（64 MiB まで）。"));
}

void UndoTest::historiesWrittenWithoutIdsStillRead()
{
    // As the version before ids wrote it.
    const QByteArray action = "a 0 0 /s/a /s/a /t/p1.jpg 1 2 3 4 5 1 0  0 0 0 0 0 0  .\n";
    const QByteArray old =
        "kaenami undo history 2\nbatch 1\n" + action + "batch 2\n" + action + action + "end\n";
    const UndoHistory read = UndoHistory::fromBytes(old);
    QCOMPARE(read.size(), size_t(2));
    QCOMPARE(read.newest().files, 2);
    QCOMPARE(read.newest().record.size(), size_t(2));
    const QByteArray id = read.newest().id;
    QVERIFY(!id.isEmpty());
    QVERIFY(read.ids().front() != id);
    // The same batch has the same id at every reading, and keeps it once written again.
    QCOMPARE(UndoHistory::fromBytes(old).newest().id, id);
    QCOMPARE(UndoHistory::fromBytes(read.toBytes()).newest().id, id);
    Fixture f;
    const QString path = f.program() + "/" + UndoHistory::fileName;
    QVERIFY(TestFiles::write(path, old));
    UndoHistoryFile history(f.files, path);
    UndoHistoryFile::Claimed claimed;
    OpResult failure;
    QCOMPARE(history.claimNewest(id, claimed, failure), UndoHistoryFile::Claim::Taken);
    QCOMPARE(claimed.entry.files, 2);
    QCOMPARE(history.batches(), std::optional<size_t>(1));
}

void UndoTest::aBatchWhoseUndoCouldNotStartGoesBackInItsPlace()
{
    Fixture f;
    const QString path = f.program() + "/" + UndoHistory::fileName;
    const auto batchTo = [](const QString &name) {
        JobResult result = copyingBatch(1);
        result.record.push_back(copiedTo(name));
        return result;
    };
    UndoHistoryFile history(f.files, path);
    QVERIFY(history.record(batchTo("first")));
    QVERIFY(history.record(batchTo("second")));
    UndoHistory now;
    QVERIFY(history.read(now));
    UndoHistoryFile::Claimed claimed;
    OpResult failure;
    QCOMPARE(history.claimNewest(now.newest().id, claimed, failure), UndoHistoryFile::Claim::Taken);
    // Asked again about the same batch, the file no longer offers it.
    QCOMPARE(history.claimNewest(now.newest().id, claimed, failure),
             UndoHistoryFile::Claim::NoLongerNewest);
    // Another window's batch meanwhile stays the newest.
    QVERIFY(history.record(batchTo("third")));
    QVERIFY(history.putBack(claimed));
    QVERIFY(history.read(now));
    QStringList order;
    for (const UndoEntry &entry : batchesOf(now))
        order.append(entry.folders.toPath(entry.record.front()));
    QCOMPARE(order, (QStringList{"/t/first", "/t/second", "/t/third"}));
}

void UndoTest::anUndoOnADriveReadOnlyForNowCanBeTriedAgain_data()
{
    QTest::addColumn<bool>("moveFromCard");
    QTest::newRow("copies on the card") << false;
    // The undo hides the new names, cannot write the card and puts them back: no change.
    QTest::newRow("photos moved off the card") << true;
}

void UndoTest::anUndoOnADriveReadOnlyForNowCanBeTriedAgain()
{
    // A card whose write protection is on when the undo is asked: nothing changes, and the
    // batch is kept for when it is off again. The card is a tmpfs in a child's namespace.
    QFETCH(bool, moveFromCard);
    Fixture f;
    const QByteArray card = QFile::encodeName(moveFromCard ? f.src() : f.dst());
    const int code = onOwnDrive(card, "tmpfs", "size=1m", [&] {
        const UndoEntry entry = f.runAndRecord(f.request({"a.jpg"}, false, moveFromCard));
        if (entry.record.empty() ||
            ::mount(nullptr, card.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0)
            return 10;
        const QStringList before = f.state();
        const UndoReport refused = undoBatch(f.files, entry, f.program());
        if (refused.started || !refused.tryAgainLater || refused.leftAlone.isEmpty())
            return 1;
        if (f.state() != before)
            return 3;
        if (::mount(nullptr, card.constData(), nullptr, MS_REMOUNT, nullptr) != 0)
            return 10;
        const UndoReport undone = undoBatch(f.files, entry, f.program());
        return undone.undone == 1 && !QFileInfo::exists(f.dst() + "/p1.jpg") &&
                       TestFiles::read(f.src() + "/a.jpg") == "a.jpg"
                   ? 0
                   : 2;
    });
    if (code == -1 || code == 10)
        QSKIP("cannot mount a file system of the test's own here");
    QCOMPARE(code, 0);
}

void UndoTest::anUndoWhoseFolderIsAwayWaitsOnlyForADrive_data()
{
    QTest::addColumn<int>("gone"); // 0: the card taken out; 1, 2: folders deleted from it
    QTest::newRow("the card taken out") << 0;
    QTest::newRow("the folder deleted") << 1;
    QTest::newRow("the folder deleted with the one above") << 2;
}

void UndoTest::anUndoWhoseFolderIsAwayWaitsOnlyForADrive()
{
    // Copies into a card's top folder, the card then taken out (its mount point stays, empty):
    // the batch waits. Copies into a folder since deleted on a drive that is here: it goes, so
    // that the batches before it stay within reach.
    QFETCH(int, gone);
    const bool cardTakenOut = gone == 0;
    Fixture f;
    QVERIFY(QDir().mkpath(f.dst() + "/card"));
    const QByteArray card = QFile::encodeName(f.dst() + "/card");
    const QString folder = f.dst() + "/card/DCIM/100";
    const int code = onOwnDrive(card, "tmpfs", "size=1m", [&] {
        RenameRequest r = f.request({"a.jpg"}, false, false);
        r.targetFolder = folder;
        const UndoEntry entry = QDir().mkpath(folder) ? f.runAndRecord(r) : UndoEntry{};
        if (entry.record.empty())
            return 10;
        if (cardTakenOut ? ::umount(card.constData()) != 0
                         : !QFile::remove(folder + "/p1.jpg") || !QDir().rmdir(folder) ||
                               (gone == 2 && !QDir().rmdir(f.dst() + "/card/DCIM")))
            return 10;
        const UndoReport report = undoBatch(f.files, entry, f.program());
        return !report.started && report.tryAgainLater == cardTakenOut ? 0 : 1;
    });
    if (code == -1 || code == 10)
        QSKIP("cannot mount a file system of the test's own here");
    QCOMPARE(code, 0);
}

void UndoTest::aDataHomeSpelledWithDotsIsStillTheTrash()
{
    // $XDG_DATA_HOME given as data/sub/..: the replaced file is kept, and comes back.
    Fixture f;
    QVERIFY(QDir().mkpath(f.root.path() + "/data/sub"));
    const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", dataHome + "/sub/../");
    QVERIFY(TestFiles::write(f.dst() + "/p1.jpg", "an older photo"));
    const UndoEntry entry = f.runAndRecord(f.request({"a.jpg"}, false, false));
    const UndoReport report = undoBatch(f.files, entry, f.program());
    qputenv("XDG_DATA_HOME", dataHome);
    QVERIFY2(report.leftAlone.isEmpty(), qPrintable(report.leftAlone.join('\n')));
    QCOMPARE(TestFiles::read(f.dst() + "/p1.jpg"), QByteArray("an older photo"));
}

void UndoTest::anUndoInAnotherDesktopSessionWaitsForItsTrash()
{
    // Undone where another home trash is set ($XDG_DATA_HOME), the replaced file cannot come
    // back: nothing changes and the batch waits for the session whose trash holds it.
    Fixture f;
    QVERIFY(TestFiles::write(f.dst() + "/p1.jpg", "an older photo"));
    const UndoEntry entry = f.runAndRecord(f.request({"a.jpg"}, false, false));
    const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(f.root.path() + "/elsewhere"));
    const UndoReport waiting = undoBatch(f.files, entry, f.program());
    qputenv("XDG_DATA_HOME", dataHome);
    QVERIFY(!waiting.started);
    QVERIFY(waiting.tryAgainLater);
    QCOMPARE(TestFiles::read(f.dst() + "/p1.jpg"), QByteArray("a.jpg"));
    QCOMPARE(undoBatch(f.files, entry, f.program()).undone, 1);
    QCOMPARE(TestFiles::read(f.dst() + "/p1.jpg"), QByteArray("an older photo"));
}

void UndoTest::aKilledChangesTemporaryGoesAtTheNextChange()
{
    Fixture f;
    const QString path = f.program() + "/" + UndoHistory::fileName;
    const QString temporary = UndoHistoryFile::temporaryPath(path);
    QVERIFY(QFileInfo(temporary).fileName().startsWith(UndoHistory::fileName));
    UndoHistoryFile history(f.files, path);
    QVERIFY(history.record(f.job.run(f.request({"a.jpg"}, false, false))));
    // Left by a change killed while it wrote: the next change, and the next start, remove it.
    QVERIFY(TestFiles::write(temporary, "kaenami undo history 2\nbatch"));
    QVERIFY(history.record(f.job.run(f.request({"b.jpg"}, false, false))));
    QVERIFY(!QFileInfo::exists(temporary));
    QVERIFY(TestFiles::write(temporary, "kaenami undo history 2\nbatch"));
    QCOMPARE(recoverAbandonedBatches(f.files, f.program()), QString());
    QVERIFY(!QFileInfo::exists(temporary));
    QCOMPARE(TestFiles::names(f.program()), QStringList{UndoHistory::fileName});
    UndoHistory now;
    QVERIFY(history.read(now));
    QCOMPARE(now.size(), size_t(2));
}

void UndoTest::twoRunsAtOnceLoseNoBatch()
{
    // Two runs of the program batch into their own folders at the same time, ten batches
    // each, with one history between them.
    Fixture f;
    QStringList runs;
    std::vector<std::unique_ptr<QProcess>> children;
    for (const QString run : {"x", "y"}) {
        for (const QString &folder : {"src-" + run, "dst-" + run})
            QVERIFY(QDir(f.root.path()).mkdir(folder));
        for (const char *name : {"a.jpg", "b.jpg"})
            QVERIFY(TestFiles::write(f.root.path() + "/src-" + run + "/" + name, name));
        auto &child = children.emplace_back(std::make_unique<QProcess>());
        child->start(QStringLiteral(KAENAMI_BATCH_CHILD),
                     {"repeat", "10", f.program(), f.root.path() + "/src-" + run,
                      f.root.path() + "/dst-" + run, "0", "0", run, "1", "1", "1"});
    }
    for (const auto &child : children) {
        QVERIFY(child->waitForFinished(60000));
        QVERIFY2(child->exitStatus() == QProcess::NormalExit && child->exitCode() == 0,
                 child->readAllStandardError().constData());
    }
    UndoHistory now;
    QVERIFY(UndoHistoryFile(f.files, f.program() + "/" + UndoHistory::fileName).read(now));
    QSet<QString> recorded;
    QSet<QByteArray> ids;
    for (const UndoEntry &entry : batchesOf(now)) {
        ids.insert(entry.id);
        for (const JobAction &action : entry.record)
            recorded.insert(entry.folders.toPath(action));
    }
    QSet<QString> made;
    for (const QString run : {"x", "y"}) {
        for (const QString &name : TestFiles::names(f.root.path() + "/dst-" + run))
            made.insert(f.root.path() + "/dst-" + run + "/" + name);
    }
    QCOMPARE(made.size(), 40);
    QCOMPARE(now.size(), size_t(20));
    QCOMPARE(ids.size(), 20);
    QCOMPARE(recorded, made);
}

void UndoTest::theUsersHistoryOnADriveWithoutPermissionsIsUsed()
{
    // A portable copy on a USB stick keeps its history there, where every file looks writable
    // by all: the user's own history still counts.
    Fixture f;
    const ExfatDrive drive(f.root.path() + "/stick.img", f.root.path() + "/stick");
    if (!drive.skipReason.isEmpty())
        QSKIP(qPrintable(drive.skipReason));
    const QString program = f.root.path() + "/stick/program";
    QVERIFY(QDir().mkpath(program));
    const QString path = program + "/" + UndoHistory::fileName;
    UndoHistoryFile history(f.files, path);
    QVERIFY(history.record(f.job.run(f.request({"a.jpg"}, false, false))));
    QVERIFY(history.record(f.job.run(f.request({"b.jpg"}, false, false))));
    QVERIFY2(QFileInfo(path).permissions() & QFileDevice::WriteOther,
             "the drive shows every file writable by all");
    UndoHistory now;
    QVERIFY(history.read(now));
    QCOMPARE(now.size(), size_t(2));
    UndoHistoryFile::Claimed claimed;
    OpResult failure;
    QCOMPARE(history.claimNewest(now.newest().id, claimed, failure), UndoHistoryFile::Claim::Taken);
    // The second batch wrote over the first one's copy: the undo brings that back.
    QVERIFY(undoBatch(f.files, claimed.entry, f.program()).leftAlone.isEmpty());
    QCOMPARE(TestFiles::read(f.dst() + "/p1.jpg"), QByteArray("a.jpg"));
}

void UndoTest::undoOnADriveIgnoringCaseBringsBackTheSpellings()
{
    // IMG1.JPG, Img2.jpg and IMG3.JPG renumbered in place as img2..4.jpg on a USB stick, then
    // undone: each file comes back under the spelling it had.
    Fixture f;
    const ExfatDrive drive(f.root.path() + "/stick.img", f.root.path() + "/stick");
    if (!drive.skipReason.isEmpty())
        QSKIP(qPrintable(drive.skipReason));
    const QString folder = f.root.path() + "/stick/d";
    QVERIFY(QDir().mkpath(folder));
    const QStringList names{"IMG1.JPG", "Img2.jpg", "IMG3.JPG"};
    // An earlier Img2.jpg in the trash: this one is kept as Img2.2.jpg.
    const QString trash = f.root.path() + QStringLiteral("/stick/.Trash-%1").arg(::getuid());
    QVERIFY(QDir().mkpath(trash + "/files") && QDir().mkpath(trash + "/info"));
    QVERIFY(TestFiles::write(trash + "/files/Img2.jpg", "older"));
    QVERIFY(TestFiles::write(trash + "/info/Img2.jpg.trashinfo",
                             "[Trash Info]\nPath=d/Img2.jpg\nDeletionDate=2020-01-01T00:00:00\n"));
    RenameRequest r = f.request({}, true, true);
    r.startNumberText = "2";
    r.baseName = "img";
    r.overwrite = true;
    r.sourceFolder = r.targetFolder = folder;
    for (const QString &name : names) {
        QVERIFY(TestFiles::write(folder + "/" + name, name.toUtf8()));
        r.entries.push_back({name, true});
    }
    const UndoEntry entry = f.runAndRecord(r);
    QCOMPARE(TestFiles::names(folder), (QStringList{"img2.jpg", "img3.jpg", "img4.jpg"}));
    QVERIFY(QFileInfo::exists(trash + "/files/Img2.2.jpg"));
    const UndoReport report = undoBatch(f.files, entry, f.program());
    QVERIFY2(report.leftAlone.isEmpty(), qPrintable(report.leftAlone.join('\n')));
    QStringList sorted = names;
    sorted.sort();
    QCOMPARE(TestFiles::names(folder), sorted);
    for (const QString &name : names)
        QCOMPARE(TestFiles::read(folder + "/" + name), name.toUtf8());
}

void UndoTest::copiesOnACardPutInAgainAreUndone()
{
    // Photos copied to an exFAT card, the card pulled and pushed back: the drive numbers its
    // files anew (looked at in another order, they swap numbers), and the undo still knows them.
    Fixture f;
    ExfatDrive drive(f.root.path() + "/card.img", f.root.path() + "/card");
    if (!drive.skipReason.isEmpty())
        QSKIP(qPrintable(drive.skipReason));
    const QString dcim = f.root.path() + "/card/DCIM";
    QVERIFY(QDir().mkpath(dcim));
    RenameRequest r = f.request({"a.jpg", "b.jpg"}, false, false);
    r.targetFolder = dcim;
    const UndoEntry entry = f.runAndRecord(r);
    QCOMPARE(TestFiles::names(dcim), (QStringList{"p1.jpg", "p2.jpg"}));
    QVERIFY(drive.remount());
    QVERIFY(f.files.status(dcim + "/p2.jpg", false).exists());
    QVERIFY(f.files.status(dcim + "/p1.jpg", false).exists());
    const UndoReport report = undoBatch(f.files, entry, f.program());
    QVERIFY2(report.leftAlone.isEmpty(), qPrintable(report.leftAlone.join('\n')));
    QCOMPARE(report.undone, 2);
    QCOMPARE(TestFiles::names(dcim), QStringList{});
}

void UndoTest::aCardLoosensOnlyTheChecksOfItsOwnFiles()
{
    // Two photos of one size and second moved off an exFAT card, their new names then swapped
    // by hand on the disk: the disk still tells its files apart, so neither goes back under
    // the other's name.
    Fixture f;
    const ExfatDrive drive(f.root.path() + "/card.img", f.root.path() + "/card");
    if (!drive.skipReason.isEmpty())
        QSKIP(qPrintable(drive.skipReason));
    const QString dcim = f.root.path() + "/card/DCIM";
    QVERIFY(QDir().mkpath(dcim));
    RenameRequest r = f.request({}, false, true);
    r.sourceFolder = dcim;
    for (const QString name : {"a.jpg", "b.jpg"}) {
        QVERIFY(TestFiles::write(dcim + "/" + name, name.toUtf8()));
        const struct timespec shot[2] = {{0, UTIME_OMIT}, {1'700'000'000, 0}};
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(dcim + "/" + name).constData(), shot, 0),
                 0);
        r.entries.push_back({name, true});
    }
    const UndoEntry entry = f.runAndRecord(r);
    QVERIFY(QFile::rename(f.dst() + "/p1.jpg", f.dst() + "/swap"));
    QVERIFY(QFile::rename(f.dst() + "/p2.jpg", f.dst() + "/p1.jpg"));
    QVERIFY(QFile::rename(f.dst() + "/swap", f.dst() + "/p2.jpg"));
    const UndoReport report = undoBatch(f.files, entry, f.program());
    QCOMPARE(report.undone, 0);
    QCOMPARE(report.leftAlone.size(), 2);
    QCOMPARE(TestFiles::read(f.dst() + "/p1.jpg"), QByteArray("b.jpg"));
    QCOMPARE(TestFiles::names(dcim), QStringList{});
}

QTEST_GUILESS_MAIN(UndoTest)
#include "tst_undo.moc"
