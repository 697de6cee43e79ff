#include "childprocess.h"
#include "exactfiles.h"
#include "filenames.h"
#include "posixfileoperations.h"
#include "regularfile.h"
#include "testfiles.h"

#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <memory>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace ExactFiles;

QByteArray patterned(int size)
{
    QByteArray content(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        content[i] = char(i * 7 + i / 251);
    return content;
}

QString describe(const OpResult &result)
{
    return result ? QStringLiteral("succeeded")
                  : result.error + QStringLiteral(" @ ") + result.path;
}

/// Lets this process write files only up to `bytes`, with SIGXFSZ ignored so that a write
/// beyond fails with EFBIG, a real failure that root cannot bypass.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_savedHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_savedHandler);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    struct rlimit m_saved
    {
    };
    void (*m_savedHandler)(int) = SIG_DFL;
};

/// QTemporaryDir cannot remove names that are not UTF-8; this removes the folder's files by
/// their exact bytes.
void removeExactNames(const QString &folder)
{
    DIR *dir = ::opendir(sys(folder).constData());
    if (!dir)
        return;
    while (const dirent *entry = ::readdir(dir))
        ::unlinkat(::dirfd(dir), entry->d_name, 0);
    ::closedir(dir);
}

} // namespace

class FileOperationsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void longCopiesLetTheWindowAnswer();
    void aFileTheTrashCannotKeepIsNotReplaced();
    void aFullDriveWithoutATrashYetKeepsItsFile();
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }
    void cleanup() { removeExactNames(m_dir->path()); }
    void copyKeepsContentTimeAndMode_data();
    void copyKeepsContentTimeAndMode();
    void failedWriteLeavesNoTrace_data();
    void failedWriteLeavesNoTrace();
    void failedCopyLeavesTheTargetWhole();
    void copyOfAFolderFails();
    void pipesAreRefusedWithoutBlocking_data();
    void pipesAreRefusedWithoutBlocking();
    void destinationTheUserMayNotWriteIsRefused();
    void namesKeepTheirExactBytes();
    void moveIsARenameAndKeepsTheFile();
    void moveOntoTheSameFile_data();
    void moveOntoTheSameFile();
    void moveOfARelativeLinkCopiesTheContent();
    void linksAreReadNotWrittenThrough();
    void moveAcrossFileSystemsCopiesAndRemovesTheSource();
    void aSourceWrittenToWhileMovedAcrossStays();
    void removeOfAMissingFileFails();
    void setAsideSurvivesAReplacement();
    void renameNoReplaceRefusesAnExistingName();
    void listingLeavesOutHiddenFilesAndFolders();
    void listingOfAMissingFolderFails();
    void namesStartingWithIncludeHiddenOnes();
    void sameContent_data();
    void sameContent();
    void atomicWriteReplacesWhole();
    void atomicWriteKeepsModeAndFollowsLinks();
    void atomicWriteFailureKeepsTheOldFile();
    void atomicWriteNeverFollowsAnotherUsersLink();
    void aSharedFileLockedForeverIsGivenUp();
    void journalIsHeldUntilFinished();
    void leftJournalIsClaimedOnce();
    void anOpenFolderIsFoundWhereItWasRenamed_data();
    void anOpenFolderIsFoundWhereItWasRenamed();

private:
    QString path(const char *name) const { return m_dir->path() + QLatin1Char('/') + name; }
    std::unique_ptr<QTemporaryDir> m_dir;
    PosixFileOperations m_ops;
};

void FileOperationsTest::copyKeepsContentTimeAndMode_data()
{
    QTest::addColumn<bool>("unnamedFiles");
    QTest::addColumn<bool>("targetExists");
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("sync");
    QTest::newRow("unnamed/new-empty") << true << false << 0 << false;
    QTest::newRow("unnamed/new-small") << true << false << 4096 << false;
    QTest::newRow("unnamed/new-large") << true << false << 3 * 1024 * 1024 + 7 << false;
    QTest::newRow("unnamed/new-synced") << true << false << 100 << true;
    QTest::newRow("unnamed/replace") << true << true << 10 << false;
    QTest::newRow("unnamed/replace-empty") << true << true << 0 << false;
    QTest::newRow("named/new") << false << false << 4096 << false;
    QTest::newRow("named/new-synced") << false << false << 100 << true;
    QTest::newRow("named/replace") << false << true << 10 << false;
}

void FileOperationsTest::copyKeepsContentTimeAndMode()
{
    QFETCH(bool, unnamedFiles);
    QFETCH(bool, targetExists);
    QFETCH(int, size);
    QFETCH(bool, sync);
    const QByteArray content = patterned(size);
    QVERIFY(TestFiles::write(path("s"), content));
    QVERIFY(::chmod(sys(path("s")).constData(), 0604) == 0);
    const struct timespec times[2] = {{1000, 0}, {1234567890, 123456789}};
    QVERIFY(::utimensat(AT_FDCWD, sys(path("s")).constData(), times, 0) == 0);
    if (targetExists)
        QVERIFY(TestFiles::write(path("t"), "previous content that is longer"));

    PosixFileOperations ops({.unnamedFiles = unnamedFiles});
    WriteReport report;
    const OpResult result = ops.copyFile(path("s"), path("t"), {path(".t.tmp"), sync}, &report);
    QVERIFY2(result, qPrintable(describe(result)));
    QCOMPARE(TestFiles::read(path("t")), content);
    struct stat st
    {
    };
    QVERIFY(lstatOf(path("t"), st));
    QCOMPARE(st.st_mode & 07777, mode_t(0604));
    QCOMPARE(st.st_mtim.tv_sec, times[1].tv_sec);
    QCOMPARE(st.st_mtim.tv_nsec, times[1].tv_nsec);
    QCOMPARE(TestFiles::names(m_dir->path()), (QStringList{"s", "t"}));
    QCOMPARE(report.replaced, targetExists);
    QVERIFY2(report.written.type == FileStatus::Type::Regular && report.written.inode == st.st_ino,
             "the report names the file written");
}

void FileOperationsTest::failedWriteLeavesNoTrace_data()
{
    QTest::addColumn<bool>("unnamedFiles");
    QTest::addColumn<bool>("targetExists");
    QTest::newRow("unnamed/new") << true << false;
    QTest::newRow("unnamed/replace") << true << true;
    QTest::newRow("named/new") << false << false;
    QTest::newRow("named/replace") << false << true;
}

void FileOperationsTest::failedWriteLeavesNoTrace()
{
    QFETCH(bool, unnamedFiles);
    QFETCH(bool, targetExists);
    QVERIFY(TestFiles::write(path("s"), patterned(64 * 1024)));
    if (targetExists)
        QVERIFY(TestFiles::write(path("t"), "previous"));
    PosixFileOperations ops({.unnamedFiles = unnamedFiles});
    OpResult result;
    {
        FileSizeLimit limit(4096);
        result = ops.copyFile(path("s"), path("t"), {path(".t.tmp"), false});
    }
    QVERIFY2(!result, "a copy larger than the file size limit must fail");
    QCOMPARE(result.error, systemErrorText(EFBIG));
    QCOMPARE(result.path, path("t"));
    if (targetExists) {
        QCOMPARE(TestFiles::read(path("t")), QByteArray("previous"));
        QCOMPARE(TestFiles::names(m_dir->path()), (QStringList{"s", "t"}));
    } else {
        QCOMPARE(TestFiles::names(m_dir->path()), QStringList{"s"});
    }
}

void FileOperationsTest::failedCopyLeavesTheTargetWhole()
{
    QVERIFY(TestFiles::write(path("t"), "keep me"));
    const OpResult result = m_ops.copyFile(path("missing"), path("t"), {path(".t.tmp")});
    QVERIFY(!result);
    QCOMPARE(result.error, systemErrorText(ENOENT));
    QCOMPARE(result.path, path("missing"));
    QCOMPARE(TestFiles::read(path("t")), QByteArray("keep me"));
    QCOMPARE(TestFiles::names(m_dir->path()), QStringList{"t"});
}

void FileOperationsTest::copyOfAFolderFails()
{
    QVERIFY(QDir(m_dir->path()).mkdir("sub"));
    const OpResult result = m_ops.copyFile(path("sub"), path("t"), {path(".t.tmp")});
    QVERIFY(!result);
    QCOMPARE(result.error, systemErrorText(EISDIR));
    QVERIFY(TestFiles::names(m_dir->path()).isEmpty());
}

void FileOperationsTest::pipesAreRefusedWithoutBlocking_data()
{
    QTest::addColumn<QString>("operation");
    QTest::newRow("copy/source") << "copy-from";
    QTest::newRow("copy/destination") << "copy-to";
    QTest::newRow("move/source") << "move-from";
    QTest::newRow("read/file") << "read";
    QTest::newRow("journal/claim") << "claim";
}

void FileOperationsTest::pipesAreRefusedWithoutBlocking()
{
    QFETCH(QString, operation);
    QVERIFY(::mkfifo(sys(path("fifo")).constData(), 0644) == 0);
    QVERIFY(TestFiles::write(path("s"), "content"));
    const WriteOptions options{path(".t.tmp")};
    QByteArray bytes;
    // Opening a pipe without a writer blocks: should that come back, the alarm ends the test.
    ::alarm(10);
    OpResult result;
    if (operation == "copy-from")
        result = m_ops.copyFile(path("fifo"), path("t"), options);
    else if (operation == "copy-to")
        result = m_ops.copyFile(path("s"), path("fifo"), options);
    else if (operation == "move-from")
        result = m_ops.moveFile(path("fifo"), path("t"), options);
    else if (operation == "read")
        result = m_ops.readFile(path("fifo"), bytes);
    else
        result = m_ops.claimJournal(path("fifo"), bytes);
    const bool compared = m_ops.sameContent(path("fifo"), path("s"));
    ::alarm(0);
    QVERIFY(!result);
    QCOMPARE(result.error, notARegularFileText());
    QCOMPARE(result.path, path("fifo"));
    QVERIFY2(!compared, "a pipe has no content to compare");
    struct stat st
    {
    };
    QVERIFY2(lstatOf(path("fifo"), st) && S_ISFIFO(st.st_mode), "the pipe stays as it was");
    QCOMPARE(TestFiles::names(m_dir->path()), (QStringList{"fifo", "s"}));
}

void FileOperationsTest::aFileTheTrashCannotKeepIsNotReplaced()
{
    // The trash is there, but cannot keep the file: the kernel refuses a link to a file the
    // user may not read (protected hard links), and a copy cannot read it either. Replacing it
    // anyway would lose it.
    QFile protectedLinks(QStringLiteral("/proc/sys/fs/protected_hardlinks"));
    if (!protectedLinks.open(QIODevice::ReadOnly) || protectedLinks.readAll().trimmed() != "1")
        QSKIP("needs the kernel's protected hard links");
    QVERIFY(::chmod(sys(m_dir->path()).constData(), 0777) == 0);
    QVERIFY(QDir(m_dir->path()).mkdir("data"));
    QVERIFY(::chmod(sys(path("data")).constData(), 0777) == 0);
    QVERIFY(TestFiles::write(path("s"), "new content"));
    QVERIFY(TestFiles::write(path("t"), "the only copy"));
    QVERIFY(::chmod(sys(path("t")).constData(), 0622) == 0);
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(10);
        qputenv("XDG_DATA_HOME", sys(path("data")));
        PosixFileOperations ops;
        const WriteOptions trashing({}, false, true);
        if (ops.copyFile(path("s"), path("t"), trashing))
            ::_exit(1);
        if (ops.moveFile(path("s"), path("t"), trashing))
            ::_exit(2);
        ::_exit(0);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY2(WIFEXITED(status), "the child ended normally");
    if (WEXITSTATUS(status) == 10)
        QSKIP("cannot change to an unprivileged user here");
    QVERIFY2(WEXITSTATUS(status) == 0,
             WEXITSTATUS(status) == 1 ? "the copy replaced it" : "the move replaced it");
    QCOMPARE(TestFiles::read(path("t")), QByteArray("the only copy"));
    QCOMPARE(TestFiles::read(path("s")), QByteArray("new content"));
    // Nothing half-kept is left in the trash.
    QVERIFY(TestFiles::names(path("data/Trash/files")).isEmpty());
    QVERIFY(TestFiles::names(path("data/Trash/info")).isEmpty());
}

void FileOperationsTest::aFullDriveWithoutATrashYetKeepsItsFile()
{
    // A drive nothing was trashed on yet, and full: its trash cannot be made now, which says
    // nothing about having one. The file must stay rather than be replaced unkept. The drive
    // is a tmpfs without a free inode, mounted in a child's own mount namespace.
    QVERIFY(QDir(m_dir->path()).mkdir("drive"));
    const QByteArray drive = sys(path("drive"));
    const int code = onOwnDrive(drive, "tmpfs", "size=1m,nr_inodes=4", [&] {
        // The drive's folder, the two files and the data folder take every inode.
        const QString folder = FileNames::decode(drive);
        if (!TestFiles::write(folder + "/t", "the only copy") ||
            !TestFiles::write(folder + "/s", "new content") || !QDir(folder).mkdir("data") ||
            QDir(folder).mkdir("probe"))
            return 11;
        qputenv("XDG_DATA_HOME", drive + "/data");
        PosixFileOperations ops;
        if (ops.moveFile(folder + "/s", folder + "/t", WriteOptions({}, false, true)))
            return 1;
        return TestFiles::read(folder + "/t") == "the only copy" ? 0 : 2;
    });
    if (code == -1)
        QSKIP("cannot mount a file system of the test's own here");
    QVERIFY2(code != 11, "the drive could not be filled as planned");
    QVERIFY2(code == 0, "the file was replaced without being kept");
}

void FileOperationsTest::destinationTheUserMayNotWriteIsRefused()
{
    // Root writes anything, so the attempt runs in a child that gives up root.
    QVERIFY(::chmod(sys(m_dir->path()).constData(), 0777) == 0);
    QVERIFY(TestFiles::write(path("s"), "new content"));
    QVERIFY(TestFiles::write(path("t"), "keep"));
    QVERIFY(::chmod(sys(path("t")).constData(), 0444) == 0);
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(10);
        PosixFileOperations ops;
        const OpResult copied = ops.copyFile(path("s"), path("t"), {path(".t.tmp")});
        if (copied || copied.error != systemErrorText(EACCES) || copied.path != path("t"))
            ::_exit(1);
        const OpResult moved = ops.moveFile(path("s"), path("t"), {path(".t.tmp")});
        if (moved || moved.error != systemErrorText(EACCES) || moved.path != path("t"))
            ::_exit(2);
        ::_exit(0);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY2(WIFEXITED(status), "the child ended normally");
    const int code = WEXITSTATUS(status);
    if (code == 10)
        QSKIP("cannot change to an unprivileged user here");
    QVERIFY2(code == 0, qPrintable(code == 1 ? QStringLiteral("copy was not refused with EACCES")
                                             : QStringLiteral("move was not refused with EACCES")));
    QCOMPARE(TestFiles::read(path("t")), QByteArray("keep"));
    QCOMPARE(TestFiles::names(m_dir->path()), (QStringList{"s", "t"}));
}

void FileOperationsTest::namesKeepTheirExactBytes()
{
    // テスト.txt, 写真.jpg and 動画.jpg in Shift-JIS: not UTF-8, so only exact bytes find them.
    const QString source = FileNames::decode("\x83\x65\x83\x58\x83\x67.txt");
    const QString copied = FileNames::decode("\x8e\xca\x90\x5e.jpg");
    const QString moved = FileNames::decode("\x93\xae\x89\xe6.jpg");
    const QString folder = m_dir->path() + QLatin1Char('/');
    QVERIFY(writeExact(folder + source, "sjis"));

    QStringList names;
    QVERIFY(m_ops.listFiles(m_dir->path(), names));
    QCOMPARE(names, QStringList{source});
    QCOMPARE(FileNames::encode(names.first()), QByteArray("\x83\x65\x83\x58\x83\x67.txt"));

    OpResult result = m_ops.copyFile(folder + names.first(), folder + copied, {folder + ".tmp"});
    QVERIFY2(result, qPrintable(describe(result)));
    QCOMPARE(readExact(folder + copied), QByteArray("sjis"));
    result = m_ops.moveFile(folder + names.first(), folder + moved, {folder + ".tmp"});
    QVERIFY2(result, qPrintable(describe(result)));
    QCOMPARE(readExact(folder + moved), QByteArray("sjis"));
    QVERIFY2(!exists(folder + source), "the moved name is gone");
    QVERIFY(m_ops.listFiles(m_dir->path(), names));
    names.sort();
    QCOMPARE(names, (QStringList{copied, moved}));
}

void FileOperationsTest::moveIsARenameAndKeepsTheFile()
{
    QVERIFY(TestFiles::write(path("s"), "moved"));
    struct stat before
    {
    };
    QVERIFY(lstatOf(path("s"), before));
    QVERIFY(TestFiles::write(path("t"), "replaced"));
    WriteReport report;
    QVERIFY(m_ops.moveFile(path("s"), path("t"), {path(".t.tmp")}, &report));
    struct stat after
    {
    };
    QVERIFY(lstatOf(path("t"), after));
    QCOMPARE(after.st_ino, before.st_ino);
    QVERIFY(report.replaced && !report.copied && !report.alreadyThere);
    QCOMPARE(TestFiles::names(m_dir->path()), QStringList{"t"});
}

void FileOperationsTest::moveOntoTheSameFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("sourceStays");
    QTest::newRow("same/name") << "same" << true;
    QTest::newRow("hard-link/same-folder") << "hard-link" << false;
    QTest::newRow("hard-link/other-folder") << "hard-link-elsewhere" << false;
    QTest::newRow("symbolic-link/onto-its-file") << "symbolic-link" << false;
}

void FileOperationsTest::moveOntoTheSameFile()
{
    QFETCH(QString, kind);
    QFETCH(bool, sourceStays);
    QVERIFY(QDir(m_dir->path()).mkdir("sub"));
    QVERIFY(TestFiles::write(path("f"), "the only content"));
    QString source = path("f");
    if (kind == "hard-link") {
        source = path("h");
        QVERIFY(::link(sys(path("f")).constData(), sys(source).constData()) == 0);
    } else if (kind == "hard-link-elsewhere") {
        source = path("sub/h");
        QVERIFY(::link(sys(path("f")).constData(), sys(source).constData()) == 0);
    } else if (kind == "symbolic-link") {
        source = path("l");
        QVERIFY(::symlink("f", sys(source).constData()) == 0);
    }
    WriteReport report;
    const OpResult result = m_ops.moveFile(source, path("f"), {path(".f.tmp")}, &report);
    QVERIFY2(result, qPrintable(describe(result)));
    struct stat st
    {
    };
    QVERIFY2(lstatOf(path("f"), st) && S_ISREG(st.st_mode), "the file stays a regular file");
    QCOMPARE(TestFiles::read(path("f")), QByteArray("the only content"));
    QCOMPARE(exists(source), sourceStays);
    QCOMPARE(report.alreadyThere, !sourceStays);
    QCOMPARE(TestFiles::names(m_dir->path()), QStringList{"f"});
}

void FileOperationsTest::moveOfARelativeLinkCopiesTheContent()
{
    QVERIFY(QDir(m_dir->path()).mkdir("a"));
    QVERIFY(QDir(m_dir->path()).mkdir("b"));
    QVERIFY(TestFiles::write(path("a/f"), "pointed to"));
    struct stat before
    {
    };
    QVERIFY(lstatOf(path("a/f"), before));
    QVERIFY(::symlink("f", sys(path("a/l")).constData()) == 0);

    WriteReport report;
    const OpResult result = m_ops.moveFile(path("a/l"), path("b/l"), {path("b/.l.tmp")}, &report);
    QVERIFY2(result, qPrintable(describe(result)));
    struct stat st
    {
    };
    QVERIFY2(lstatOf(path("b/l"), st) && S_ISREG(st.st_mode), "a moved link becomes its content");
    QCOMPARE(TestFiles::read(path("b/l")), QByteArray("pointed to"));
    QVERIFY(report.copied);
    QVERIFY2(!exists(path("a/l")), "the link itself is gone");
    struct stat after
    {
    };
    QVERIFY(lstatOf(path("a/f"), after));
    QCOMPARE(after.st_ino, before.st_ino);
    QCOMPARE(TestFiles::read(path("a/f")), QByteArray("pointed to"));
    QCOMPARE(TestFiles::names(path("b")), QStringList{"l"});
}

void FileOperationsTest::linksAreReadNotWrittenThrough()
{
    QVERIFY(TestFiles::write(path("f"), "pointed to"));
    QVERIFY(TestFiles::write(path("other"), "must stay"));
    QVERIFY(::symlink("f", sys(path("l")).constData()) == 0);
    QVERIFY(::symlink("other", sys(path("t")).constData()) == 0);

    QVERIFY(m_ops.copyFile(path("l"), path("copy"), {path(".copy.tmp")}));
    struct stat st
    {
    };
    QVERIFY2(lstatOf(path("copy"), st) && S_ISREG(st.st_mode), "a copy of a link is a file");
    QCOMPARE(TestFiles::read(path("copy")), QByteArray("pointed to"));

    WriteReport report;
    QVERIFY(m_ops.copyFile(path("f"), path("t"), {path(".t.tmp")}, &report));
    QVERIFY2(lstatOf(path("t"), st) && S_ISREG(st.st_mode), "the link at the destination went");
    QCOMPARE(TestFiles::read(path("t")), QByteArray("pointed to"));
    QCOMPARE(TestFiles::read(path("other")), QByteArray("must stay"));
    QVERIFY(report.replaced);
}

void FileOperationsTest::moveAcrossFileSystemsCopiesAndRemovesTheSource()
{
    const auto drive = TestFiles::folderOnAnotherDrive(m_dir->path());
    if (!drive)
        QSKIP("no second file system in /dev/shm here");
    const QTemporaryDir &other = *drive;

    QVERIFY(TestFiles::write(path("s"), patterned(100000)));
    const struct timespec times[2] = {{1000, 0}, {1234567890, 5}};
    QVERIFY(::utimensat(AT_FDCWD, sys(path("s")).constData(), times, 0) == 0);
    const QString target = other.path() + QStringLiteral("/t");
    WriteReport report;
    const OpResult result =
        m_ops.moveFile(path("s"), target, {other.path() + QStringLiteral("/.t.tmp")}, &report);
    QVERIFY2(result, qPrintable(describe(result)));
    QVERIFY(report.copied);
    QCOMPARE(TestFiles::read(target), patterned(100000));
    struct stat st
    {
    };
    QVERIFY(lstatOf(target, st));
    QCOMPARE(st.st_mtim.tv_nsec, 5);
    QVERIFY2(!exists(path("s")), "the source goes once its copy is complete");
    QCOMPARE(TestFiles::names(other.path()), QStringList{"t"});
}

void FileOperationsTest::aSourceWrittenToWhileMovedAcrossStays()
{
    // A recording still going on: what it writes while it is copied to another drive must not
    // be lost with the source, as a move that deletes it would.
    const auto drive = TestFiles::folderOnAnotherDrive(m_dir->path());
    if (!drive)
        QSKIP("no second file system in /dev/shm here");
    const QTemporaryDir &other = *drive;
    const QByteArray recorded = patterned(40 << 20);
    QVERIFY(TestFiles::write(path("rec.bin"), recorded));
    // Long copies let the window answer every 16 MiB: the recorder writes on meanwhile.
    bool appended = false;
    PosixFileOperations ops;
    ops.setBusyHandler([&] {
        if (!appended)
            appended = TestFiles::append(path("rec.bin"), "more of the recording");
    });
    WriteReport report;
    const OpResult result = ops.moveFile(path("rec.bin"), other.path() + QStringLiteral("/r.bin"),
                                         {other.path() + QStringLiteral("/.r.tmp")}, &report);
    QVERIFY(appended);
    QVERIFY2(result, qPrintable(describe(result)));
    QVERIFY2(report.sourceKept && report.sourceChanged, "the move says the source stays");
    QCOMPARE(TestFiles::read(path("rec.bin")), recorded + "more of the recording");
}

void FileOperationsTest::removeOfAMissingFileFails()
{
    const OpResult result = m_ops.removeFile(path("missing"));
    QVERIFY(!result);
    QCOMPARE(result.error, systemErrorText(ENOENT));
    QCOMPARE(result.path, path("missing"));
}

void FileOperationsTest::setAsideSurvivesAReplacement()
{
    QVERIFY(TestFiles::write(path("a"), "original"));
    QVERIFY(TestFiles::write(path("b"), "newer"));
    QVERIFY(m_ops.setAside(path("a"), path(".a.kept")));
    QVERIFY(m_ops.isSameFile(path(".a.kept"), path("a")));
    QVERIFY(m_ops.copyFile(path("b"), path("a"), {path(".a.tmp")}));
    QVERIFY(!m_ops.isSameFile(path(".a.kept"), path("a")));
    QCOMPARE(TestFiles::read(path(".a.kept")), QByteArray("original"));

    const OpResult again = m_ops.setAside(path("a"), path(".a.kept"));
    QVERIFY2(!again, "a kept file is never replaced");
    QCOMPARE(again.error, systemErrorText(EEXIST));
    QCOMPARE(TestFiles::read(path(".a.kept")), QByteArray("original"));
}

void FileOperationsTest::renameNoReplaceRefusesAnExistingName()
{
    QVERIFY(TestFiles::write(path("a"), "a"));
    QVERIFY(TestFiles::write(path("b"), "b"));
    const OpResult refused = m_ops.renameNoReplace(path("a"), path("b"));
    QVERIFY(!refused);
    QCOMPARE(refused.error, systemErrorText(EEXIST));
    QCOMPARE(TestFiles::read(path("a")), QByteArray("a"));
    QCOMPARE(TestFiles::read(path("b")), QByteArray("b"));
    QVERIFY(m_ops.renameNoReplace(path("a"), path("c")));
    QCOMPARE(TestFiles::names(m_dir->path()), (QStringList{"b", "c"}));
    QCOMPARE(TestFiles::read(path("c")), QByteArray("a"));
}

void FileOperationsTest::listingLeavesOutHiddenFilesAndFolders()
{
    QVERIFY(TestFiles::write(path("b.jpg"), ""));
    QVERIFY(TestFiles::write(path(".hidden"), ""));
    QVERIFY(QDir(m_dir->path()).mkdir("folder"));
    QVERIFY(::symlink("b.jpg", sys(path("link.jpg")).constData()) == 0);
    QVERIFY(::symlink("folder", sys(path("dirlink")).constData()) == 0);
    QVERIFY(::mkfifo(sys(path("fifo")).constData(), 0644) == 0);
    QStringList names;
    QVERIFY(m_ops.listFiles(m_dir->path(), names));
    names.sort();
    QCOMPARE(names, (QStringList{"b.jpg", "link.jpg"}));
}

void FileOperationsTest::listingOfAMissingFolderFails()
{
    QStringList names{"stale"};
    const OpResult result = m_ops.listFiles(path("gone"), names);
    QVERIFY(!result);
    QCOMPARE(result.error, systemErrorText(ENOENT));
    QVERIFY(names.isEmpty());
}

void FileOperationsTest::namesStartingWithIncludeHiddenOnes()
{
    for (const char *name : {".kaenami-1.kept", ".kaenami", "kaenami-2", ".other"})
        QVERIFY(TestFiles::write(path(name), ""));
    QVERIFY(QDir(m_dir->path()).mkdir(".kaenami-dir"));
    QStringList names;
    QVERIFY(m_ops.listNamesStartingWith(m_dir->path(), ".kaenami-", names));
    names.sort();
    QCOMPARE(names, (QStringList{".kaenami-1.kept", ".kaenami-dir"}));
    QVERIFY(m_ops.listNamesStartingWith(m_dir->path(), ".", names));
    QCOMPARE(names.size(), 4);
}

void FileOperationsTest::sameContent_data()
{
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<bool>("same");
    const QByteArray large = patterned(200000);
    QByteArray lateChange = large;
    lateChange[150000] = char(lateChange[150000] ^ 1);
    QTest::newRow("same/empty") << QByteArray() << QByteArray() << true;
    QTest::newRow("same/large") << large << large << true;
    QTest::newRow("differ/size") << QByteArray("abc") << QByteArray("abcd") << false;
    QTest::newRow("differ/late-byte") << large << lateChange << false;
}

void FileOperationsTest::sameContent()
{
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);
    QFETCH(bool, same);
    QVERIFY(TestFiles::write(path("a"), first));
    QVERIFY(TestFiles::write(path("b"), second));
    QCOMPARE(m_ops.sameContent(path("a"), path("b")), same);
    QVERIFY2(!m_ops.sameContent(path("a"), path("missing")), "a missing file has no content");
}

void FileOperationsTest::atomicWriteReplacesWhole()
{
    QVERIFY(TestFiles::write(path("f"), "old old old"));
    QVERIFY(m_ops.writeFileAtomically(path("f"), "new"));
    QCOMPARE(TestFiles::read(path("f")), QByteArray("new"));
    QVERIFY(!m_ops.writeFileAtomically(path("nofolder/f"), "x"));
    QCOMPARE(TestFiles::names(m_dir->path()), QStringList{"f"});
}

void FileOperationsTest::atomicWriteKeepsModeAndFollowsLinks()
{
    QVERIFY(TestFiles::write(path("f"), "old"));
    QVERIFY(::chmod(sys(path("f")).constData(), 0640) == 0);
    QVERIFY(::symlink("f", sys(path("l")).constData()) == 0);
    QVERIFY(m_ops.writeFileAtomically(path("l"), "through the link"));
    struct stat st
    {
    };
    QVERIFY2(lstatOf(path("l"), st) && S_ISLNK(st.st_mode), "the link stays a link");
    QVERIFY(lstatOf(path("f"), st));
    QCOMPARE(st.st_mode & 07777, mode_t(0640));
    QCOMPARE(TestFiles::read(path("f")), QByteArray("through the link"));
    QCOMPARE(TestFiles::names(m_dir->path()), (QStringList{"f", "l"}));
}

void FileOperationsTest::atomicWriteFailureKeepsTheOldFile()
{
    QVERIFY(TestFiles::write(path("f"), "old"));
    OpResult result;
    {
        FileSizeLimit limit(1024);
        result = m_ops.writeFileAtomically(path("f"), patterned(40 * 1024));
    }
    QVERIFY2(!result, "a write beyond the file size limit must fail");
    QCOMPARE(result.error, systemErrorText(EFBIG));
    QCOMPARE(TestFiles::read(path("f")), QByteArray("old"));
    QCOMPARE(TestFiles::names(m_dir->path()), QStringList{"f"});
}

void FileOperationsTest::atomicWriteNeverFollowsAnotherUsersLink()
{
    // In a shared program folder anyone may put a link where the settings are saved: it must
    // not make the save overwrite the user's own file it names.
    if (::geteuid() != 0)
        QSKIP("giving a link to another user needs root");
    QVERIFY(TestFiles::write(path("notes.txt"), "my precious notes"));
    QVERIFY(::symlink(sys(path("notes.txt")).constData(), sys(path("settings.ini")).constData()) ==
            0);
    QVERIFY(::lchown(sys(path("settings.ini")).constData(), 65534, 65534) == 0);
    const OpResult result = m_ops.writeFileAtomically(path("settings.ini"), "[settings]");
    QVERIFY2(!result, "the other user's link is not followed");
    QCOMPARE(TestFiles::read(path("notes.txt")), QByteArray("my precious notes"));
}

void FileOperationsTest::aSharedFileLockedForeverIsGivenUp()
{
    // A stopped process (or anyone, on a drive without permissions) may hold the lock of the
    // shared history for ever: the change waits for a while and then says why it cannot.
    QVERIFY(TestFiles::write(path("shared"), ""));
    QVERIFY(::chmod(sys(path("shared")).constData(), 0600) == 0);
    const int holder = ::open(sys(path("shared")).constData(), O_RDONLY | O_CLOEXEC);
    QVERIFY(holder >= 0 && ::flock(holder, LOCK_EX) == 0);
    PosixFileOperations ops(PosixFileOperations::Options{true, 300});
    int waits = 0;
    ops.setBusyHandler([&] { ++waits; });
    FileStatus locked;
    ::alarm(20); // should the wait never end, the test does
    const OpResult result = ops.lockSharedFile(path("shared"), false, locked);
    ::alarm(0);
    ::close(holder);
    QVERIFY2(!result, "the lock was given up");
    QCOMPARE(result.systemError, EWOULDBLOCK);
    QVERIFY2(waits > 0, "the window was kept alive while it waited");
}

void FileOperationsTest::journalIsHeldUntilFinished()
{
    const QString journal = path(".batch.journal");
    PosixFileOperations running;
    QVERIFY(running.writeJournal(journal, "step 1"));
    QVERIFY(running.writeJournal(journal, "step 2"));
    QCOMPARE(TestFiles::read(journal), QByteArray("step 2"));

    PosixFileOperations starting;
    QByteArray bytes;
    const OpResult claimed = starting.claimJournal(journal, bytes);
    QVERIFY2(!claimed, "a running batch's journal is not taken");
    QCOMPARE(claimed.error, systemErrorText(EWOULDBLOCK));
    QCOMPARE(TestFiles::read(journal), QByteArray("step 2"));

    QVERIFY(running.finishJournal(journal));
    QVERIFY(TestFiles::names(m_dir->path()).isEmpty());
}

void FileOperationsTest::leftJournalIsClaimedOnce()
{
    const QString journal = path(".batch.journal");
    {
        PosixFileOperations ended;
        QVERIFY(ended.writeJournal(journal, "left behind"));
    }
    QVERIFY2(!m_ops.writeJournal(journal, "new batch"), "a left journal is never written over");

    PosixFileOperations starting;
    QByteArray bytes;
    QVERIFY(starting.claimJournal(journal, bytes));
    QCOMPARE(bytes, QByteArray("left behind"));
    PosixFileOperations another;
    const OpResult second = another.claimJournal(journal, bytes);
    QVERIFY2(!second, "a claimed journal is held");
    QCOMPARE(second.error, systemErrorText(EWOULDBLOCK));
    QVERIFY(starting.finishJournal(journal));
    QVERIFY(TestFiles::names(m_dir->path()).isEmpty());
}

void FileOperationsTest::longCopiesLetTheWindowAnswer()
{
    // 40 MiB in one file: the handler is called between the chunks, not only at the end.
    QByteArray content(40 << 20, Qt::Uninitialized);
    for (qsizetype i = 0; i < content.size(); i += 4096)
        content[i] = char(i >> 12);
    QVERIFY(writeExact(path("big"), content));
    PosixFileOperations ops;
    int calls = 0;
    ops.setBusyHandler([&calls] { ++calls; });
    WriteOptions options;
    options.temporary = path(".big.tmp");
    QVERIFY(ops.copyFile(path("big"), path("copy"), options));
    QVERIFY2(calls >= 2, qPrintable(QStringLiteral("called %1 times").arg(calls)));
    QCOMPARE(readExact(path("copy")), content);
    // Comparing two long files answers as well.
    calls = 0;
    QVERIFY(ops.sameContent(path("big"), path("copy")));
    QVERIFY2(calls >= 2, qPrintable(QStringLiteral("called %1 times comparing").arg(calls)));
    // Once taken away, the handler is no longer called.
    ops.setBusyHandler({});
    calls = 0;
    QVERIFY(ops.copyFile(path("big"), path("again"), options));
    QCOMPARE(calls, 0);
}

void FileOperationsTest::anOpenFolderIsFoundWhereItWasRenamed_data()
{
    QTest::addColumn<QString>("newName");
    QTest::newRow("renamed") << "moved";
    // What the system appends to the path of a deleted folder can be a real name's end.
    QTest::newRow("renamed to a name like a deleted one") << "moved (deleted)";
}

void FileOperationsTest::anOpenFolderIsFoundWhereItWasRenamed()
{
    QFETCH(QString, newName);
    QVERIFY(QDir(m_dir->path()).mkdir("folder"));
    OpenFolder folder;
    QVERIFY(m_ops.openFolder(path("folder"), folder));
    QVERIFY(QDir(m_dir->path()).rename("folder", newName));
    QCOMPARE(m_ops.currentPath(folder), m_dir->path() + "/" + newName);
}

QTEST_GUILESS_MAIN(FileOperationsTest)
#include "tst_fileoperations.moc"
