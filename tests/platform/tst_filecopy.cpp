#include "childprocess.h"
#include "exactfiles.h"
#include "posixfileoperations.h"
#include "testfiles.h"

#include <QHash>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

using namespace ExactFiles;

constexpr off_t sparseSize = off_t(1) << 30;
constexpr qsizetype pieceSize = 4096;

/// How a test carries a file: a copy written unnamed or under a temporary name, or a move to
/// another file system (a copy, then a delete).
enum class Way
{
    Unnamed,
    Named,
    MoveAcross
};

QByteArray piece(off_t offset)
{
    QByteArray bytes(pieceSize, Qt::Uninitialized);
    for (qsizetype i = 0; i < pieceSize; ++i)
        bytes[i] = char(offset / 4096 + i * 7 + 1);
    return bytes;
}

/// Writes a file of `size` bytes whose only data are pieces at `offsets`; the rest is holes.
bool writeSparse(const QString &path, off_t size, const QList<off_t> &offsets)
{
    const int fd = ::open(sys(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool written = fd >= 0 && ::ftruncate(fd, size) == 0;
    for (const off_t offset : offsets)
        written =
            written && ::pwrite(fd, piece(offset).constData(), pieceSize, offset) == pieceSize;
    return ::close(fd) == 0 && written;
}

/// Whether the file is exactly what writeSparse made: its pieces, zeros everywhere else.
bool holdsExactly(const QString &path, off_t size, const QList<off_t> &offsets)
{
    QByteArray expected(1 << 20, '\0');
    QByteArray got(1 << 20, Qt::Uninitialized);
    const int fd = ::open(sys(path).constData(), O_RDONLY | O_CLOEXEC);
    bool same = fd >= 0;
    for (off_t at = 0; same && at < size; at += expected.size()) {
        expected.fill('\0');
        for (const off_t offset : offsets) {
            if (offset >= at && offset < at + expected.size())
                expected.replace(offset - at, pieceSize, piece(offset));
        }
        same = ::pread(fd, got.data(), size_t(got.size()), at) == got.size() && got == expected;
    }
    char beyond = 0;
    same = same && ::pread(fd, &beyond, 1, size) == 0;
    ::close(fd);
    return same;
}

/// An ACL that lets one more user read and write, as the kernel stores it: a version header,
/// then (tag, permissions, id) entries sorted by tag.
QByteArray aclWithNamedUser(quint32 user)
{
    constexpr quint32 noId = 0xffffffff;
    const struct
    {
        quint16 tag, permissions;
        quint32 id;
    } entries[] = {
        {0x01, 6, noId}, {0x02, 6, user}, {0x04, 4, noId}, {0x10, 6, noId}, {0x20, 0, noId}};
    QByteArray bytes(4, Qt::Uninitialized);
    qToLittleEndian<quint32>(2, bytes.data());
    for (const auto &entry : entries) {
        char packed[8];
        qToLittleEndian<quint16>(entry.tag, packed);
        qToLittleEndian<quint16>(entry.permissions, packed + 2);
        qToLittleEndian<quint32>(entry.id, packed + 4);
        bytes.append(packed, sizeof packed);
    }
    return bytes;
}

QByteArray attribute(const QString &path, const char *name)
{
    QByteArray value(65536, Qt::Uninitialized);
    const ssize_t length =
        ::getxattr(sys(path).constData(), name, value.data(), size_t(value.size()));
    return length < 0 ? QByteArray("<none>") : value.left(length);
}

/// Counts, by number, the system calls `work` makes in a traced child between two marks. False
/// where tracing is not allowed here; `succeeded` tells how the work went.
bool countCalls(const std::function<bool()> &work, QHash<quint64, int> &counts, bool &succeeded)
{
    constexpr int beginMark = -1001;
    constexpr int endMark = -1002;
    const pid_t child = ::fork();
    if (child == 0) {
        if (::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0)
            ::_exit(100);
        ::raise(SIGSTOP);
        ::close(beginMark);
        const bool done = work();
        ::close(endMark);
        ::_exit(done ? 0 : 1);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFSTOPPED(status))
        return false;
    ::ptrace(PTRACE_SETOPTIONS, child, nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL);
    bool counting = false;
    int signal = 0;
    for (;;) {
        ::ptrace(PTRACE_SYSCALL, child, nullptr, signal);
        signal = 0;
        if (::waitpid(child, &status, 0) != child || !WIFSTOPPED(status))
            break;
        if (WSTOPSIG(status) != (SIGTRAP | 0x80)) {
            signal = WSTOPSIG(status);
            continue;
        }
        __ptrace_syscall_info info{};
        ::ptrace(PTRACE_GET_SYSCALL_INFO, child, sizeof info, &info);
        if (info.op != PTRACE_SYSCALL_INFO_ENTRY)
            continue;
        const bool mark = info.entry.nr == SYS_close;
        if (mark && int(info.entry.args[0]) == beginMark)
            counting = true;
        else if (mark && int(info.entry.args[0]) == endMark)
            counting = false;
        else if (counting)
            ++counts[info.entry.nr];
    }
    succeeded = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return !counts.isEmpty();
}

} // namespace

class FileCopyTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }
    void cleanup()
    {
        m_other.reset();
        m_dir.reset();
    }
    void holesAreKept_data();
    void holesAreKept();
    void attributesAndTheAclAreKept_data();
    void attributesAndTheAclAreKept();
    void aDriveThatCannotHoldAttributes_data();
    void aDriveThatCannotHoldAttributes();
    void permissionBitsAndTimeAreExact_data();
    void permissionBitsAndTimeAreExact();
    void kernelFilesAreCopiedAsRead_data();
    void kernelFilesAreCopiedAsRead();
    void smallCopiesTakeFewCalls();

private:
    QString path(const char *name) const { return m_dir->path() + QLatin1Char('/') + name; }

    /// Carries `source` the given way and returns where it went; skips the test where there is
    /// no second file system for a move.
    QString carry(Way way, const QString &source)
    {
        if (way == Way::MoveAcross) {
            m_other = TestFiles::folderOnAnotherDrive(m_dir->path());
            if (!m_other)
                return {};
            const QString target = m_other->path() + QStringLiteral("/t");
            WriteReport report;
            const OpResult moved = m_ops.moveFile(
                source, target, {m_other->path() + QStringLiteral("/.t.tmp")}, &report);
            return moved && report.copied ? target
                                          : QStringLiteral("<failed: %1>").arg(moved.error);
        }
        PosixFileOperations ops({.unnamedFiles = way == Way::Unnamed});
        const OpResult copied = ops.copyFile(source, path("t"), {path(".t.tmp")});
        return copied ? path("t") : QStringLiteral("<failed: %1>").arg(copied.error);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QTemporaryDir> m_other;
    PosixFileOperations m_ops;
};

void FileCopyTest::holesAreKept_data()
{
    QTest::addColumn<Way>("way");
    QTest::addColumn<QList<off_t>>("offsets");
    const QList<off_t> bothEnds{0, sparseSize / 2 + 12345, sparseSize - pieceSize};
    const QList<off_t> trailingHole{0, sparseSize / 2 + 12345};
    QTest::newRow("copy/data-at-both-ends") << Way::Unnamed << bothEnds;
    QTest::newRow("copy/hole-at-the-end") << Way::Unnamed << trailingHole;
    QTest::newRow("copy/only-a-hole") << Way::Unnamed << QList<off_t>{};
    QTest::newRow("named/hole-at-the-end") << Way::Named << trailingHole;
    QTest::newRow("move-across/data-at-both-ends") << Way::MoveAcross << bothEnds;
    QTest::newRow("move-across/hole-at-the-end") << Way::MoveAcross << trailingHole;
}

void FileCopyTest::holesAreKept()
{
    QFETCH(Way, way);
    QFETCH(QList<off_t>, offsets);
    QVERIFY(writeSparse(path("s"), sparseSize, offsets));
    struct stat source
    {
    };
    QVERIFY(lstatOf(path("s"), source));
    if (off_t(source.st_blocks) * 512 >= sparseSize)
        QSKIP("the test folder's file system keeps no holes");

    const QString copy = carry(way, path("s"));
    if (copy.isEmpty())
        QSKIP("no second file system at /dev/shm here");
    QVERIFY2(!copy.startsWith(QLatin1Char('<')), qPrintable(copy));
    QVERIFY2(holdsExactly(copy, sparseSize, offsets), "the copy holds the same bytes");
    struct stat copied
    {
    };
    QVERIFY(lstatOf(copy, copied));
    QCOMPARE(copied.st_size, sparseSize);
    // Drives allocate in granules of their own (up to huge pages); a copy that wrote its holes
    // takes the whole gigabyte.
    const off_t data = offsets.size() * pieceSize;
    QVERIFY2(off_t(copied.st_blocks) * 512 < sparseSize / 64,
             qPrintable(QStringLiteral("the copy takes %1 bytes of disk for %2 bytes of data")
                            .arg(qint64(copied.st_blocks) * 512)
                            .arg(qint64(data))));
}

void FileCopyTest::attributesAndTheAclAreKept_data()
{
    QTest::addColumn<Way>("way");
    QTest::newRow("copy") << Way::Unnamed;
    QTest::newRow("named") << Way::Named;
    QTest::newRow("move-across") << Way::MoveAcross;
}

void FileCopyTest::attributesAndTheAclAreKept()
{
    QFETCH(Way, way);
    const QByteArray source = sys(path("s"));
    QVERIFY(TestFiles::write(path("s"), "photo"));
    const QByteArray origin = "https://example.org/旅行/photo.jpg";
    if (::setxattr(source.constData(), "user.xdg.origin.url", origin.constData(),
                   size_t(origin.size()), 0) != 0)
        QSKIP("the test folder's file system keeps no user attributes");
    const QByteArray tags = "海,夏";
    QVERIFY(::setxattr(source.constData(), "user.xdg.tags", tags.constData(), size_t(tags.size()),
                       0) == 0);
    const QByteArray acl = aclWithNamedUser(4321);
    if (::setxattr(source.constData(), "system.posix_acl_access", acl.constData(),
                   size_t(acl.size()), 0) != 0)
        QSKIP("the test folder's file system keeps no ACLs");
    struct stat before
    {
    };
    QVERIFY(lstatOf(path("s"), before));
    QCOMPARE(before.st_mode & 0777, mode_t(0660)); // the ACL's mask is the group bits
    const QByteArray sourceAcl = attribute(path("s"), "system.posix_acl_access");

    const QString copy = carry(way, path("s"));
    if (copy.isEmpty())
        QSKIP("no second file system at /dev/shm here");
    QVERIFY2(!copy.startsWith(QLatin1Char('<')), qPrintable(copy));
    QCOMPARE(TestFiles::read(copy), QByteArray("photo"));
    QCOMPARE(attribute(copy, "user.xdg.origin.url"), origin);
    QCOMPARE(attribute(copy, "user.xdg.tags"), tags);
    QCOMPARE(attribute(copy, "system.posix_acl_access"), sourceAcl);
    struct stat after
    {
    };
    QVERIFY(lstatOf(copy, after));
    QCOMPARE(after.st_mode & 07777, before.st_mode & 07777);
}

void FileCopyTest::aDriveThatCannotHoldAttributes_data()
{
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<QByteArray>("options");
    QTest::addColumn<int>("attributeSize");
    QTest::addColumn<bool>("copied");
    // ramfs keeps no attributes at all; this tmpfs has room for its files' attributes only up
    // to about one kilobyte (as ext4 has for one larger than its block): the content is copied,
    // the attribute that does not fit is left out, as cp does.
    QTest::newRow("refused/ramfs") << QByteArray("ramfs") << QByteArray() << 3000 << true;
    QTest::newRow("no room/tmpfs")
        << QByteArray("tmpfs") << QByteArray("size=1m,nr_inodes=4") << 3000 << true;
}

void FileCopyTest::aDriveThatCannotHoldAttributes()
{
    QFETCH(QByteArray, type);
    QFETCH(QByteArray, options);
    QFETCH(int, attributeSize);
    QFETCH(bool, copied);
    QVERIFY(TestFiles::write(path("s"), "photo"));
    const QByteArray tags(attributeSize, 't');
    if (::setxattr(sys(path("s")).constData(), "user.xdg.tags", tags.constData(),
                   size_t(tags.size()), 0) != 0)
        QSKIP("the test folder's file system keeps no user attributes");
    QVERIFY(QDir(m_dir->path()).mkdir("drive"));
    const QString drive = path("drive");

    const int code = onOwnDrive(sys(drive), type.constData(), options.constData(), [&] {
        if (!copied) {
            // Room runs out only where the drive keeps user attributes at all.
            const int probe = ::open(sys(drive).constData(), O_TMPFILE | O_WRONLY, 0600);
            const bool kept = ::fsetxattr(probe, "user.probe", "x", 1, 0) == 0;
            ::close(probe);
            if (!kept)
                return 4;
        }
        PosixFileOperations ops;
        const OpResult result = ops.copyFile(path("s"), drive + "/t", {drive + "/.t.tmp"});
        if (bool(result) != copied)
            return 1;
        if (!copied)
            return TestFiles::names(drive).isEmpty() ? 0 : 2;
        return TestFiles::read(drive + "/t") == "photo" ? 0 : 3;
    });
    if (code == -1)
        QSKIP("cannot mount a file system of the test's own here");
    if (code == 4)
        QSKIP("this kernel's tmpfs keeps no user attributes");
    QVERIFY2(code != 1, copied ? "the copy failed" : "the copy went ahead without its attribute");
    QVERIFY2(code != 2, "the failed copy left a file behind");
    QCOMPARE(code, 0);
}

void FileCopyTest::permissionBitsAndTimeAreExact_data()
{
    QTest::addColumn<Way>("way");
    QTest::addColumn<int>("mode");
    QTest::newRow("copy/0644") << Way::Unnamed << 0644;
    QTest::newRow("copy/0666") << Way::Unnamed << 0666;
    QTest::newRow("copy/0777") << Way::Unnamed << 0777;
    QTest::newRow("copy/0400") << Way::Unnamed << 0400;
    QTest::newRow("copy/4755") << Way::Unnamed << 04755;
    QTest::newRow("named/0666") << Way::Named << 0666;
    QTest::newRow("named/0444") << Way::Named << 0444;
    QTest::newRow("move-across/0777") << Way::MoveAcross << 0777;
}

void FileCopyTest::permissionBitsAndTimeAreExact()
{
    QFETCH(Way, way);
    QFETCH(int, mode);
    const mode_t savedMask = ::umask(022);
    const auto restoreMask = qScopeGuard([savedMask] { ::umask(savedMask); });
    QVERIFY(TestFiles::write(path("s"), "content"));
    QVERIFY(::chmod(sys(path("s")).constData(), mode_t(mode)) == 0);
    const struct timespec times[2] = {{1000, 0}, {1234567890, 987654321}};
    QVERIFY(::utimensat(AT_FDCWD, sys(path("s")).constData(), times, 0) == 0);

    const QString copy = carry(way, path("s"));
    if (copy.isEmpty())
        QSKIP("no second file system at /dev/shm here");
    QVERIFY2(!copy.startsWith(QLatin1Char('<')), qPrintable(copy));
    QCOMPARE(TestFiles::read(copy), QByteArray("content"));
    struct stat st
    {
    };
    QVERIFY(lstatOf(copy, st));
    QCOMPARE(st.st_mode & 07777, mode_t(mode));
    QCOMPARE(st.st_mtim.tv_sec, times[1].tv_sec);
    QCOMPARE(st.st_mtim.tv_nsec, times[1].tv_nsec);
}

void FileCopyTest::kernelFilesAreCopiedAsRead_data()
{
    // Files of the kernel's own that claim no size, or more than they hold.
    QTest::addColumn<QString>("file");
    QTest::newRow("empty-looking") << QStringLiteral("/proc/version");
    QTest::newRow("shorter-than-said") << QStringLiteral("/sys/devices/system/cpu/online");
}

void FileCopyTest::kernelFilesAreCopiedAsRead()
{
    QFETCH(QString, file);
    const QByteArray content = TestFiles::read(file);
    if (content.isEmpty() || content == "<missing>")
        QSKIP("the kernel file is not there to read");
    QVERIFY(m_ops.copyFile(file, path("t"), {path(".t.tmp")}));
    QCOMPARE(TestFiles::read(path("t")), content);
}

void FileCopyTest::smallCopiesTakeFewCalls()
{
    // A batch of small files, traced call by call: one call moves each file's bytes (a reflink
    // the drive refused is not asked for again), no seeking, no change of mode after creation.
    constexpr int files = 20;
    QVERIFY(QDir(m_dir->path()).mkdir("to"));
    for (int i = 0; i <= files; ++i) {
        const QString name = path("f") + QString::number(i);
        QVERIFY(TestFiles::write(name, QByteArray(1000 + i, 'x')));
        QVERIFY(::chmod(sys(name).constData(), 0644) == 0);
    }
    const mode_t savedMask = ::umask(022);
    // The first copy of the process learns what the drive refuses.
    QVERIFY(m_ops.copyFile(path("f0"), path("to/g0"), {path("to/.g.tmp0")}));
    QHash<quint64, int> counts;
    bool succeeded = false;
    const bool traced = countCalls(
        [&] {
            bool done = true;
            for (int i = 1; i <= files; ++i) {
                const QString number = QString::number(i);
                done = m_ops.copyFile(path("f") + number, path("to/g") + number,
                                      {path("to/.g.tmp") + number}) &&
                       done;
            }
            return done;
        },
        counts, succeeded);
    ::umask(savedMask);
    if (!traced)
        QSKIP("cannot trace a child process here");
    QVERIFY2(succeeded, "every copy succeeded");
    int total = 0;
    for (const int count : std::as_const(counts))
        total += count;
    qInfo("%.1f system calls per small file", double(total) / files);
    QCOMPARE(counts.value(SYS_lseek), 0);
    QCOMPARE(counts.value(SYS_fchmod), 0);
    QCOMPARE(counts.value(SYS_ioctl) + counts.value(SYS_copy_file_range), files);
}

QTEST_GUILESS_MAIN(FileCopyTest)
#include "tst_filecopy.moc"
