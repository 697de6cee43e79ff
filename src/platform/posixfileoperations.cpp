#include "posixfileoperations.h"

#include "filecopy.h"
#include "filenames.h"
#include "folderlisting.h"
#include "regularfile.h"
#include "systemcalls.h"
#include "trash.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <utility>

/// What is learnt about an open folder once and reused while it is held.
struct FolderFacts
{
    int unnamedFiles = -1; ///< O_TMPFILE works here: -1 not known yet, 0 no, 1 yes
    int nameMax = 0;       ///< 0: not known yet
    bool trashLooked = false;
    int trashError = 0;
    Trash::Bin trash;
};

namespace {

using SystemCalls::BusyScope;
using SystemCalls::failureOf;
using SystemCalls::FileDescriptor;
using SystemCalls::fileNameOf;
using SystemCalls::fillCopy;
using SystemCalls::folderOf;
using SystemCalls::stillBusy;
using SystemCalls::writeAll;

FolderFacts &factsOf(const OpenFolder &folder)
{
    std::shared_ptr<FolderFacts> &facts = folder.facts();
    if (!facts)
        facts = std::make_shared<FolderFacts>();
    return *facts;
}

/// The refusal of something at `path` that is not a regular file, or another failure.
OpResult regularFailure(int error, const QString &path)
{
    if (error == ENODEV)
        return OpResult::failure(notARegularFileText(), path);
    return failureOf(error, path);
}

OpResult notRegular(const struct stat &st, const QString &path)
{
    return regularFailure(S_ISDIR(st.st_mode) ? EISDIR : ENODEV, path);
}

bool sameIdentity(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

FileStatus statusOf(const struct stat &st)
{
    FileStatus status;
    if (S_ISREG(st.st_mode))
        status.type = FileStatus::Type::Regular;
    else if (S_ISDIR(st.st_mode))
        status.type = FileStatus::Type::Directory;
    else if (S_ISLNK(st.st_mode))
        status.type = FileStatus::Type::SymbolicLink;
    else
        status.type = FileStatus::Type::Other;
    status.device = st.st_dev;
    status.inode = st.st_ino;
    status.size = st.st_size;
    status.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    status.links = st.st_nlink;
    return status;
}

FileStatus entryStatus(int folder, const char *name)
{
    struct stat st
    {
    };
    return ::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) == 0 ? statusOf(st) : FileStatus{};
}

QByteArray randomToken()
{
    return QByteArray::number(QRandomGenerator::global()->generate64(), 36);
}

/// Creates a new hidden file beside `target` ("." + name + "." + token); the kernel applies the
/// umask to `mode`, which mkostemp's fixed 0600 would not.
int createHiddenSibling(const QByteArray &target, int flags, mode_t mode, QByteArray &created)
{
    // Leave room for the dot and the token within the usual 255-byte name limit.
    const QByteArray name = fileNameOf(target).left(200);
    for (int attempt = 0; attempt < 100; ++attempt) {
        created = folderOf(target) + "/." + name + '.' + randomToken();
        const int fd = ::open(created.constData(), flags | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

/// Opens the regular file `path` without ever blocking (see SystemCalls::openRegularAt).
OpResult openRegular(const QString &path, int access, FileDescriptor &fd, struct stat &st)
{
    const QByteArray bytes = FileNames::encode(path);
    const int looked =
        (access & O_NOFOLLOW) ? ::lstat(bytes.constData(), &st) : ::stat(bytes.constData(), &st);
    if (looked == 0 && !S_ISREG(st.st_mode))
        return notRegular(st, path);
    fd.reset(::open(bytes.constData(), access | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd.valid())
        return failureOf(errno, path);
    if (::fstat(fd.get(), &st) != 0)
        return failureOf(errno, path);
    if (!S_ISREG(st.st_mode)) {
        fd.reset(-1);
        return notRegular(st, path);
    }
    return OpResult::success();
}

/// What a journal too long to read is known by: its first lines.
constexpr qint64 journalHead = 64 * 1024;

/// Reads from the current offset to the end, at most `limit` bytes (EFBIG beyond); returns 0
/// or the errno of the failing read.
int readAll(int fd, qint64 sizeHint, QByteArray &bytes,
            qint64 limit = std::numeric_limits<qint64>::max())
{
    bytes.clear();
    qsizetype filled = 0;
    bytes.resize(qMin<qint64>(qMax<qint64>(sizeHint, 0), limit) + 1);
    for (;;) {
        if (filled == bytes.size()) {
            if (filled > limit) {
                bytes.clear();
                return EFBIG;
            }
            bytes.resize(qMin<qint64>(qint64(bytes.size()) * 2, limit + 1));
        }
        const ssize_t got = ::read(fd, bytes.data() + filled, size_t(bytes.size() - filled));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            bytes.clear();
            return errno;
        }
        if (got == 0)
            break;
        filled += got;
    }
    if (filled > limit) {
        bytes.clear();
        return EFBIG;
    }
    bytes.resize(filled);
    return 0;
}

/// Fills `buffer` as far as the file goes; returns the count or -1.
qsizetype readChunk(int fd, char *buffer, qsizetype size)
{
    qsizetype filled = 0;
    while (filled < size) {
        const ssize_t got = ::read(fd, buffer + filled, size_t(size - filled));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (got == 0)
            break;
        filled += got;
    }
    return filled;
}

/// The copy's final permission bits as far as the umask lets them through, so that most copies
/// need no change of mode after their data.
mode_t creationMode(const struct stat &source)
{
    return source.st_mode & 0777;
}

/// Returns 0 or the errno of the failure.
int syncFolder(const QByteArray &folder)
{
    FileDescriptor fd(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid())
        return errno;
    return SystemCalls::syncFolder(fd.get());
}

int renameWithoutReplacing(const QByteArray &from, const QByteArray &to)
{
    return SystemCalls::renameWithoutReplacing(AT_FDCWD, from.constData(), AT_FDCWD,
                                               to.constData());
}

/// Whether an existing destination may be replaced: only a regular file or a symbolic link
/// (as an entry), and only one the user may write, as cp.
OpResult checkReplaceable(const struct stat &existing, int folder, const char *name,
                          const QString &destination)
{
    if (!S_ISREG(existing.st_mode) && !S_ISLNK(existing.st_mode))
        return notRegular(existing, destination);
    // The common cases need no asking: root, and a file of the user's own with its write bit.
    const uid_t user = ::geteuid();
    if (S_ISREG(existing.st_mode) &&
        (user == 0 || (existing.st_uid == user && (existing.st_mode & S_IWUSR))))
        return OpResult::success();
    int checked = ::faccessat(folder, name, W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW);
    if (checked != 0 && errno == EINVAL)
        checked = ::faccessat(folder, name, W_OK, AT_EACCESS);
    // Other failures (a dangling link, a refused check) are left to the write itself.
    if (checked != 0 && (errno == EACCES || errno == EROFS))
        return failureOf(errno, destination);
    return OpResult::success();
}

/// Looks at the destination: `exists` tells whether there is something to replace.
OpResult checkDestination(int folder, const QByteArray &name, const QString &destination,
                          bool &exists)
{
    struct stat st
    {
    };
    exists = ::fstatat(folder, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists)
        return errno == ENOENT ? OpResult::success() : failureOf(errno, destination);
    return checkReplaceable(st, folder, name, destination);
}

/// A name for a temporary: the caller's, else a random hidden one.
QByteArray temporaryName(const WriteOptions &options)
{
    if (options.temporaries)
        return FileNames::encode(options.temporaries->next());
    if (!options.temporary.isEmpty())
        return FileNames::encode(options.temporary);
    return ".kaenami-" + randomToken() + ".tmp";
}

/// The trash of the folder, opened at its first use and kept while the folder is held. A
/// passing trouble (a full disk) is tried again next time.
Trash::Bin &trashOf(const OpenFolder &folder)
{
    FolderFacts &facts = factsOf(folder);
    if (!facts.trashLooked || (!facts.trash.isOpen() && facts.trash.found())) {
        facts.trashError = facts.trash.open(folder.descriptor(), FileNames::encode(folder.path()));
        facts.trashLooked = true;
    }
    return facts.trash;
}

/// Keeps the destination about to be replaced in its trash, so its content is never lost and
/// its name never goes missing. Where its volume has no usable trash, the replace goes ahead
/// and the report says so; where the trash is there but cannot keep it (a full disk, a file
/// that cannot be read for a copy), the replace must not happen: the failure is returned.
OpResult keepReplaced(const OpenFolder &folder, const QByteArray &name, const QString &destination,
                      const WriteOptions &options, WriteReport &report,
                      const struct stat *seen = nullptr)
{
    if (!options.trashReplaced)
        return OpResult::success();
    struct stat entry
    {
    };
    if (seen)
        entry = *seen;
    else if (::fstatat(folder.descriptor(), name.constData(), &entry, AT_SYMLINK_NOFOLLOW) != 0)
        return failureOf(errno, destination);
    // Decided now, by what stands there now: only the very entry the caller named may go
    // without being kept.
    if (options.notToTrash.exists() && statusOf(entry).sameFileAs(options.notToTrash))
        return OpResult::success();
    Trash::Bin &trash = trashOf(folder);
    if (!trash.isOpen()) {
        if (trash.found())
            return failureOf(factsOf(folder).trashError, destination);
        report.replacedNotKept = true;
        return OpResult::success();
    }
    QByteArray trashedAs;
    if (const int error =
            trash.keep(folder.descriptor(), name, entry, temporaryName(options), trashedAs);
        error != 0)
        return failureOf(error, destination);
    report.trashedAs = FileNames::decode(trashedAs);
    report.trashed = statusOf(entry);
    if (trash.keepsCopies()) {
        struct stat copy
        {
        };
        if (::lstat(trashedAs.constData(), &copy) == 0)
            report.trashed = statusOf(copy);
    }
    return OpResult::success();
}

/// The replace did not happen after all: the trash lets go of what it kept.
void takeBackKept(WriteReport &report)
{
    if (!report.trashedAs.isEmpty())
        Trash::discard(report.trashedAs);
    report.trashedAs.clear();
    report.replacedNotKept = false;
}

/// Writes one copy so that the destination's name appears only with the complete content.
class CopyWriter
{
public:
    CopyWriter(int in, const struct stat &source, const OpenFolder &folder,
               const QString &destination, const WriteOptions &options, bool unnamedFiles)
        : m_in(in), m_source(source), m_folder(folder), m_fd(folder.descriptor()),
          m_destination(folder.pathOf(destination)), m_name(FileNames::encode(destination)),
          m_options(options), m_unnamedFiles(unnamedFiles)
    {}

    OpResult write(WriteReport &report)
    {
        // Told that the name is taken, the copy goes the way of a replace at once; what stands
        // there is looked at when it is replaced.
        m_exists = m_options.destinationExists;
        m_kept = {};
        bool refused = true;
        FolderFacts &facts = factsOf(m_folder);
        if (m_unnamedFiles && facts.unnamedFiles != 0) {
            if (OpResult written = writeUnnamed(refused); !written)
                return written;
            if (!refused)
                facts.unnamedFiles = 1;
            else if (m_refusedByFolder)
                facts.unnamedFiles = 0;
        }
        if (refused) {
            if (OpResult written = writeNamed(); !written)
                return written;
        }
        // Told even if the sync below fails: the replace has happened.
        report.trashedAs = m_kept.trashedAs;
        report.trashed = m_kept.trashed;
        report.replacedNotKept = m_kept.replacedNotKept;
        if (m_options.sync) {
            if (const int error = SystemCalls::syncFolder(m_fd); error != 0) {
                // A new name that may not last is taken back; the source still has it all.
                if (!m_exists)
                    ::unlinkat(m_fd, m_name.constData(), 0);
                return failureOf(error, m_destination);
            }
        }
        report.replaced = m_exists;
        report.written = m_written;
        return OpResult::success();
    }

private:
    const QByteArray &temporary()
    {
        if (m_temporary.isEmpty())
            m_temporary = temporaryName(m_options);
        return m_temporary;
    }

    /// Where the system refuses unnamed files or linking them, `refused` is set and nothing
    /// is left behind.
    OpResult writeUnnamed(bool &refused)
    {
        refused = false;
        FileDescriptor out(
            ::openat(m_fd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, creationMode(m_source)));
        if (!out.valid()) {
            refused = SystemCalls::unnamedRefused(errno) && errno != EPERM && errno != EXDEV;
            m_refusedByFolder = refused;
            return refused ? OpResult::success() : failureOf(errno, m_destination);
        }
        struct stat written
        {
        };
        if (const int error = fillCopy(m_in, m_source, out.get(), m_options.sync, &written);
            error != 0)
            return failureOf(error, m_destination);
        noteWritten(written);
        if (!m_exists) {
            const int linked = SystemCalls::linkUnnamed(out.get(), m_fd, m_name.constData());
            if (linked == 0)
                return OpResult::success();
            if (linked != EEXIST) {
                refused = SystemCalls::unnamedRefused(linked);
                return refused ? OpResult::success() : failureOf(linked, m_destination);
            }
            if (OpResult appeared = destinationAppeared(); !appeared)
                return appeared;
        }
        if (const int linked = SystemCalls::linkUnnamed(out.get(), m_fd, temporary().constData());
            linked != 0) {
            refused = SystemCalls::unnamedRefused(linked);
            return refused ? OpResult::success() : failureOf(linked, m_destination);
        }
        return renameOver();
    }

    OpResult writeNamed()
    {
        FileDescriptor out(::openat(m_fd, temporary().constData(),
                                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                    creationMode(m_source)));
        if (!out.valid())
            return failureOf(errno, m_destination);
        struct stat written
        {
        };
        int error = fillCopy(m_in, m_source, out.get(), m_options.sync, &written);
        if (error == 0)
            noteWritten(written);
        if (!out.close() && error == 0)
            error = errno;
        if (error != 0) {
            ::unlinkat(m_fd, m_temporary.constData(), 0);
            return failureOf(error, m_destination);
        }
        if (!m_exists) {
            const int placed = SystemCalls::renameWithoutReplacing(m_fd, m_temporary.constData(),
                                                                   m_fd, m_name.constData());
            if (placed == 0)
                return OpResult::success();
            if (placed != EEXIST) {
                ::unlinkat(m_fd, m_temporary.constData(), 0);
                return failureOf(placed, m_destination);
            }
            if (OpResult appeared = destinationAppeared(); !appeared) {
                ::unlinkat(m_fd, m_temporary.constData(), 0);
                return appeared;
            }
        }
        return renameOver();
    }

    /// The file as written, for the report (the name it gets keeps this file).
    void noteWritten(const struct stat &written)
    {
        m_written = statusOf(written);
        m_written.links = 1;
    }

    /// The destination came into being while we wrote: replace it by the same rules.
    OpResult destinationAppeared()
    {
        if (OpResult checked = checkDestination(m_fd, m_name, m_destination, m_exists); !checked)
            return checked;
        if (!m_exists)
            return failureOf(EEXIST, m_destination);
        return OpResult::success();
    }

    /// The complete content lies under the temporary name: one rename puts it in place.
    OpResult renameOver()
    {
        struct stat entry
        {
        };
        if (::fstatat(m_fd, m_name.constData(), &entry, AT_SYMLINK_NOFOLLOW) != 0) {
            const int error = errno;
            if (error == ENOENT) {
                // Gone meanwhile: the copy takes the free name, still replacing nothing.
                const int placed = SystemCalls::renameWithoutReplacing(
                    m_fd, m_temporary.constData(), m_fd, m_name.constData());
                if (placed == 0) {
                    m_exists = false;
                    return OpResult::success();
                }
                ::unlinkat(m_fd, m_temporary.constData(), 0);
                return failureOf(placed, m_destination);
            }
            ::unlinkat(m_fd, m_temporary.constData(), 0);
            return failureOf(error, m_destination);
        }
        if (OpResult checked = checkReplaceable(entry, m_fd, m_name.constData(), m_destination);
            !checked) {
            ::unlinkat(m_fd, m_temporary.constData(), 0);
            return checked;
        }
        if (OpResult kept =
                keepReplaced(m_folder, m_name, m_destination, m_options, m_kept, &entry);
            !kept) {
            ::unlinkat(m_fd, m_temporary.constData(), 0);
            return kept;
        }
        if (::renameat(m_fd, m_temporary.constData(), m_fd, m_name.constData()) != 0) {
            const int error = errno;
            ::unlinkat(m_fd, m_temporary.constData(), 0);
            takeBackKept(m_kept);
            return failureOf(error, m_destination);
        }
        m_exists = true;
        return OpResult::success();
    }

    const int m_in;
    const struct stat m_source;
    const OpenFolder &m_folder;
    const int m_fd;
    const QString m_destination;
    const QByteArray m_name;
    const WriteOptions &m_options;
    const bool m_unnamedFiles;
    QByteArray m_temporary;
    bool m_exists = false;
    bool m_refusedByFolder = false;
    WriteReport m_kept; ///< only its trash fields
    FileStatus m_written;
};

/// Whether the listing of `folder` holds both exact names (two links in one folder), rather
/// than one name that a case-insensitive file system also finds under the other spelling.
OpResult folderHoldsBoth(const OpenFolder &folder, QByteArrayView first, QByteArrayView second,
                         bool &both)
{
    DIR *dir = ::fdopendir(::openat(folder.descriptor(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir)
        return failureOf(errno, folder.path());
    bool seenFirst = false;
    bool seenSecond = false;
    errno = 0;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArrayView name(entry->d_name);
        seenFirst = seenFirst || name == first;
        seenSecond = seenSecond || name == second;
        errno = 0;
    }
    const int readError = errno;
    ::closedir(dir);
    if (readError != 0)
        return failureOf(readError, folder.path());
    both = seenFirst && seenSecond;
    return OpResult::success();
}

/// Reads every entry of `dir`, "." and ".." left out; `keep` decides on each. Takes `dir` over.
template <typename Keep> OpResult listDir(DIR *dir, const QString &folder, Keep &&keep)
{
    if (!dir)
        return failureOf(errno, folder);
    const int dirFd = ::dirfd(dir);
    errno = 0;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArrayView name(entry->d_name);
        if (name != "." && name != "..")
            keep(dirFd, *entry, name);
        errno = 0;
    }
    const int readError = errno;
    ::closedir(dir);
    if (readError != 0)
        return failureOf(readError, folder);
    return OpResult::success();
}

template <typename Keep> OpResult readFolder(const QString &folder, Keep &&keep)
{
    return listDir(::opendir(FileNames::encode(folder).constData()), folder,
                   std::forward<Keep>(keep));
}

template <typename Keep> OpResult readFolder(const OpenFolder &folder, Keep &&keep)
{
    return listDir(
        ::fdopendir(::openat(folder.descriptor(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)),
        folder.path(), std::forward<Keep>(keep));
}

/// Hands out one given name.
class OneName final : public TemporaryNames
{
public:
    explicit OneName(QString name) : m_name(std::move(name)) {}
    QString next() override { return m_name; }

private:
    QString m_name;
};

} // namespace

PosixFileOperations::~PosixFileOperations()
{
    for (const int fd : std::as_const(m_heldJournals))
        ::close(fd);
}

void PosixFileOperations::setBusyHandler(std::function<void()> handler)
{
    m_busy = std::move(handler);
}

OpResult PosixFileOperations::openFolder(const QString &path, OpenFolder &folder)
{
    folder = {};
    FileDescriptor fd(
        ::open(FileNames::encode(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid())
        return failureOf(errno, path);
    struct stat st
    {
    };
    if (::fstat(fd.get(), &st) != 0)
        return failureOf(errno, path);
    folder = OpenFolder(fd.release(), path, st.st_dev, st.st_ino);
    return OpResult::success();
}

OpResult PosixFileOperations::copyFile(const OpenFolder &sourceFolder, const QString &source,
                                       const OpenFolder &destinationFolder,
                                       const QString &destination, const WriteOptions &options,
                                       WriteReport *report)
{
    const BusyScope busy(m_busy);
    WriteReport local;
    WriteReport &done = report ? *report : local;
    done = {};
    FileDescriptor in;
    struct stat st
    {
    };
    if (const int error = SystemCalls::openRegularAt(
            sourceFolder.descriptor(), FileNames::Bytes(source).constData(),
            !options.sourceSeenRegular, in, st, options.sourceSeenRegular);
        error != 0)
        return regularFailure(error, sourceFolder.pathOf(source));
    // The destination is looked at only when its name turns out to be taken.
    CopyWriter writer(in.get(), st, destinationFolder, destination, options,
                      m_options.unnamedFiles);
    return writer.write(done);
}

OpResult PosixFileOperations::moveFile(const OpenFolder &sourceFolder, const QString &source,
                                       const OpenFolder &destinationFolder,
                                       const QString &destination, const WriteOptions &options,
                                       WriteReport *report)
{
    const BusyScope busy(m_busy);
    WriteReport local;
    WriteReport &done = report ? *report : local;
    done = {};
    const int from = sourceFolder.descriptor();
    const int to = destinationFolder.descriptor();
    const FileNames::Bytes src(source);
    const FileNames::Bytes dst(destination);
    const auto sourcePath = [&] { return sourceFolder.pathOf(source); };
    const auto destinationPath = [&] { return destinationFolder.pathOf(destination); };
    struct stat entry
    {
    };
    if (::fstatat(from, src.constData(), &entry, AT_SYMLINK_NOFOLLOW) != 0)
        return failureOf(errno, sourcePath());
    if (!S_ISREG(entry.st_mode) && !S_ISLNK(entry.st_mode))
        return notRegular(entry, sourcePath());
    const bool sourceIsLink = S_ISLNK(entry.st_mode);
    struct stat resolved = entry;
    if (sourceIsLink) {
        if (::fstatat(from, src.constData(), &resolved, 0) != 0)
            return failureOf(errno, sourcePath());
        if (!S_ISREG(resolved.st_mode))
            return notRegular(resolved, sourcePath());
    } else if (!options.destinationExists) {
        // The usual move, to a name that is free: one rename that never replaces anything.
        // Everything else (a name that exists, another drive) is sorted out below.
        const int moved =
            SystemCalls::renameWithoutReplacing(from, src.constData(), to, dst.constData());
        if (moved == 0) {
            done.written = statusOf(entry);
            return OpResult::success();
        }
        if (moved != EEXIST && moved != EXDEV)
            return failureOf(moved, sourcePath());
    }

    // The copy is written and stays (its caller records it); the source stays as well.
    const auto keepSource = [&](int error) {
        done.sourceKept = true;
        done.sourceNotRemoved = error;
    };
    const auto removeSourceName = [&] {
        if (::unlinkat(from, src.constData(), 0) != 0)
            return failureOf(errno, sourcePath());
        done.alreadyThere = true;
        done.written = entryStatus(to, dst.constData());
        return OpResult::success();
    };

    for (int attempt = 0;; ++attempt) {
        struct stat existing
        {
        };
        const bool exists = ::fstatat(to, dst.constData(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
        if (!exists && errno != ENOENT)
            return failureOf(errno, destinationPath());

        if (exists && sameIdentity(existing, entry)) {
            // One entry under two names: the same name, another spelling of it, or two links.
            if (sourceFolder.sameFolderAs(destinationFolder)) {
                if (QByteArrayView(src) == QByteArrayView(dst)) {
                    done.written = entryStatus(to, dst.constData());
                    return OpResult::success();
                }
                bool both = false;
                if (OpResult listed = folderHoldsBoth(destinationFolder, src, dst, both); !listed)
                    return listed;
                if (!both) {
                    // A case-insensitive file system: removing either name would remove the
                    // file, a rename only changes its spelling.
                    if (::renameat(from, src.constData(), to, dst.constData()) != 0)
                        return failureOf(errno, sourcePath());
                    done.written = entryStatus(to, dst.constData());
                    return OpResult::success();
                }
            }
            // rename() between two links of one file does nothing, so the source name goes.
            return removeSourceName();
        }
        if (exists && sameIdentity(existing, resolved))
            return removeSourceName(); // a link onto the file it points to

        if (exists) {
            if (OpResult checked =
                    checkReplaceable(existing, to, dst.constData(), destinationPath());
                !checked)
                return checked;
        }
        if (sourceIsLink) {
            // Never renamed: the destination gets the content, the pointed-to file stays.
            if (OpResult copied =
                    copyFile(sourceFolder, source, destinationFolder, destination, options, &done);
                !copied)
                return copied;
            done.copied = true;
            if (::unlinkat(from, src.constData(), 0) != 0)
                keepSource(errno);
            return OpResult::success();
        }

        int error = 0;
        if (exists) {
            if (OpResult kept = keepReplaced(destinationFolder, dst.toByteArray(),
                                             destinationPath(), options, done);
                !kept)
                return kept;
            error = ::renameat(from, src.constData(), to, dst.constData()) == 0 ? 0 : errno;
            // Across file systems the copy below keeps the replaced file itself.
            if (error != 0)
                takeBackKept(done);
        } else {
            error = SystemCalls::renameWithoutReplacing(from, src.constData(), to, dst.constData());
        }
        if (error == EEXIST && attempt == 0)
            continue; // it appeared meanwhile: look again
        if (error == 0) {
            done.replaced = exists;
            done.written = entryStatus(to, dst.constData());
            return OpResult::success();
        }
        if (error != EXDEV)
            return failureOf(error, sourcePath());

        // Across file systems the copy must be on disk before its source goes.
        WriteOptions synced = options;
        synced.sync = true;
        synced.destinationExists = exists;
        if (OpResult copied =
                copyFile(sourceFolder, source, destinationFolder, destination, synced, &done);
            !copied)
            return copied;
        done.copied = true;
        // The source must still be the file that was read: seen through another mount it may
        // be the very file just written, which must not go.
        struct stat now
        {
        };
        if (::fstatat(from, src.constData(), &now, AT_SYMLINK_NOFOLLOW) != 0 ||
            !sameIdentity(now, entry)) {
            done.sourceKept = true;
            return OpResult::success();
        }
        // Written to while it was copied (a recording still going on): the copy lacks what
        // came since, so the source stays.
        if (now.st_size != entry.st_size || now.st_mtim.tv_sec != entry.st_mtim.tv_sec ||
            now.st_mtim.tv_nsec != entry.st_mtim.tv_nsec ||
            now.st_ctim.tv_sec != entry.st_ctim.tv_sec ||
            now.st_ctim.tv_nsec != entry.st_ctim.tv_nsec) {
            done.sourceKept = true;
            done.sourceChanged = true;
            return OpResult::success();
        }
        if (::unlinkat(from, src.constData(), 0) != 0)
            keepSource(errno);
        return OpResult::success();
    }
}

OpResult PosixFileOperations::removeFile(const OpenFolder &folder, const QString &name)
{
    if (::unlinkat(folder.descriptor(), FileNames::Bytes(name).constData(), 0) != 0)
        return failureOf(errno, folder.pathOf(name));
    return OpResult::success();
}

OpResult PosixFileOperations::setAside(const OpenFolder &sourceFolder, const QString &source,
                                       const OpenFolder &keptFolder, const QString &kept)
{
    const QByteArray src = FileNames::encode(source);
    const QByteArray keptName = FileNames::encode(kept);
    if (::linkat(sourceFolder.descriptor(), src.constData(), keptFolder.descriptor(),
                 keptName.constData(), AT_SYMLINK_FOLLOW) == 0)
        return OpResult::success();
    if (errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK && errno != EXDEV)
        return failureOf(errno,
                         errno == EEXIST ? keptFolder.pathOf(kept) : sourceFolder.pathOf(source));

    // No hard link possible (FAT on a memory card, too many links): keep a full copy instead,
    // complete before it has its name (its temporary shares the kept file's hidden prefix).
    FileDescriptor in;
    struct stat st
    {
    };
    if (const int error =
            SystemCalls::openRegularAt(sourceFolder.descriptor(), src.constData(), true, in, st);
        error != 0)
        return regularFailure(error, sourceFolder.pathOf(source));
    const BusyScope busy(m_busy);
    WriteReport report;
    OneName temporary(kept + QStringLiteral(".part"));
    const WriteOptions options(&temporary);
    CopyWriter writer(in.get(), st, keptFolder, kept, options, m_options.unnamedFiles);
    return writer.write(report);
}

OpResult PosixFileOperations::renameNoReplace(const OpenFolder &fromFolder, const QString &from,
                                              const OpenFolder &toFolder, const QString &to)
{
    const int error = SystemCalls::renameWithoutReplacing(
        fromFolder.descriptor(), FileNames::Bytes(from).constData(), toFolder.descriptor(),
        FileNames::Bytes(to).constData());
    if (error != 0)
        return failureOf(error, error == EEXIST ? toFolder.pathOf(to) : fromFolder.pathOf(from));
    return OpResult::success();
}

OpResult PosixFileOperations::restoreFromTrash(const QString &trashedFile, const OpenFolder &folder,
                                               const QString &destination,
                                               const RestoreOptions &options)
{
    if (Trash::infoFileOf(trashedFile).isEmpty())
        return failureOf(EINVAL, trashedFile);
    const QByteArray trashed = FileNames::encode(trashedFile);
    // The trash folder is opened once and must be the user's own; what is taken from it is
    // looked at through that very folder, so nothing swapped in under its path meanwhile (a
    // shared .Trash belongs to someone else) can be taken instead.
    FileDescriptor root(
        ::open(folderOf(folderOf(trashed)).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!root.valid())
        return failureOf(errno, trashedFile);
    struct stat rootStatus
    {
    };
    if (::fstat(root.get(), &rootStatus) != 0)
        return failureOf(errno, trashedFile);
    if (rootStatus.st_uid != ::geteuid())
        return failureOf(EPERM, trashedFile);
    FileDescriptor files(
        ::openat(root.get(), "files", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!files.valid())
        return failureOf(errno, trashedFile);
    const QByteArray name = fileNameOf(trashed);
    if (options.expected.exists()) {
        struct stat now
        {
        };
        if (::fstatat(files.get(), name.constData(), &now, AT_SYMLINK_NOFOLLOW) != 0)
            return failureOf(errno, trashedFile);
        const FileStatus found = statusOf(now);
        if (!found.sameFileAs(options.expected) || found.size != options.expected.size ||
            found.modifiedNs != options.expected.modifiedNs)
            return OpResult::failure(
                QStringLiteral("ごみ箱の中のファイルが置き換えたものと違います。"), trashedFile);
    }
    const FileNames::Bytes dst(destination);
    int error = SystemCalls::renameWithoutReplacing(files.get(), name.constData(),
                                                    folder.descriptor(), dst.constData());
    if (error == EXDEV) {
        // A copy the home trash keeps for another drive goes back as a copy.
        struct stat st
        {
        };
        if (::fstatat(files.get(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            error = errno;
        } else if (S_ISLNK(st.st_mode)) {
            char text[PATH_MAX];
            const ssize_t length =
                ::readlinkat(files.get(), name.constData(), text, sizeof text - 1);
            text[length < 0 ? 0 : length] = '\0';
            error = length < 0                                                     ? errno
                    : ::symlinkat(text, folder.descriptor(), dst.constData()) == 0 ? 0
                                                                                   : errno;
        } else {
            FileDescriptor in;
            error = SystemCalls::openRegularAt(files.get(), name.constData(), false, in, st);
            if (error == 0) {
                const BusyScope busy(m_busy);
                WriteReport report;
                const WriteOptions synced(options.temporaries, true);
                CopyWriter writer(in.get(), st, folder, destination, synced,
                                  m_options.unnamedFiles);
                const OpResult copied = writer.write(report);
                error = copied ? 0 : (copied.systemError ? copied.systemError : EIO);
            }
        }
        if (error == 0)
            ::unlinkat(files.get(), name.constData(), 0);
    }
    if (error != 0)
        return failureOf(error, error == EEXIST ? folder.pathOf(destination) : trashedFile);
    // The file is back whatever happens now; information left behind only names a file that is
    // missing from the trash, which trash views show as such.
    const QByteArray info = "info/" + name + ".trashinfo";
    ::unlinkat(root.get(), info.constData(), 0);
    return OpResult::success();
}

OpResult PosixFileOperations::makeSymbolicLink(const QString &target, const OpenFolder &folder,
                                               const QString &name)
{
    if (::symlinkat(FileNames::Bytes(target).constData(), folder.descriptor(),
                    FileNames::Bytes(name).constData()) != 0)
        return failureOf(errno, folder.pathOf(name));
    return OpResult::success();
}

OpResult PosixFileOperations::makeHardLink(const OpenFolder &existingFolder,
                                           const QString &existing, const OpenFolder &folder,
                                           const QString &name)
{
    if (::linkat(existingFolder.descriptor(), FileNames::Bytes(existing).constData(),
                 folder.descriptor(), FileNames::Bytes(name).constData(), 0) != 0)
        return failureOf(errno, folder.pathOf(name));
    return OpResult::success();
}

FileStatus PosixFileOperations::status(const OpenFolder &folder, const QString &name,
                                       bool followLinks)
{
    struct stat st
    {
    };
    const int flags =
        (followLinks ? 0 : AT_SYMLINK_NOFOLLOW) | (name.isEmpty() ? AT_EMPTY_PATH : 0);
    if (::fstatat(folder.descriptor(), FileNames::Bytes(name).constData(), &st, flags) == 0)
        return statusOf(st);
    FileStatus missing;
    missing.error = errno;
    return missing;
}

QString PosixFileOperations::linkText(const OpenFolder &folder, const QString &name)
{
    char text[PATH_MAX];
    const ssize_t length =
        ::readlinkat(folder.descriptor(), FileNames::Bytes(name).constData(), text, sizeof text);
    return length > 0 ? FileNames::decode(QByteArray(text, int(length))) : QString();
}

bool PosixFileOperations::sameContent(const OpenFolder &folderA, const QString &a,
                                      const OpenFolder &folderB, const QString &b)
{
    FileDescriptor first, second;
    struct stat firstStatus
    {
    }, secondStatus{};
    if (SystemCalls::openRegularAt(folderA.descriptor(), FileNames::Bytes(a).constData(), true,
                                   first, firstStatus) != 0 ||
        SystemCalls::openRegularAt(folderB.descriptor(), FileNames::Bytes(b).constData(), true,
                                   second, secondStatus) != 0)
        return false;
    if (firstStatus.st_size != secondStatus.st_size)
        return false;
    if (sameIdentity(firstStatus, secondStatus))
        return true;
    static constexpr qsizetype chunkSize = 64 * 1024;
    QByteArray firstChunk(chunkSize, Qt::Uninitialized);
    QByteArray secondChunk(chunkSize, Qt::Uninitialized);
    const BusyScope busy(m_busy);
    for (int chunk = 1;; ++chunk) {
        if (chunk % 256 == 0)
            stillBusy();
        const qsizetype got = readChunk(first.get(), firstChunk.data(), chunkSize);
        if (got < 0 || readChunk(second.get(), secondChunk.data(), chunkSize) != got)
            return false;
        if (QByteArrayView(firstChunk.constData(), got) !=
            QByteArrayView(secondChunk.constData(), got))
            return false;
        if (got < chunkSize)
            return true;
    }
}

int PosixFileOperations::nameMax(const OpenFolder &folder)
{
    FolderFacts &facts = factsOf(folder);
    if (facts.nameMax == 0) {
        const long longest = ::fpathconf(folder.descriptor(), _PC_NAME_MAX);
        facts.nameMax = longest > 0 ? int(longest) : 255;
    }
    return facts.nameMax;
}

bool PosixFileOperations::writesUnnamedFiles(const OpenFolder &folder)
{
    if (!m_options.unnamedFiles)
        return false;
    FolderFacts &facts = factsOf(folder);
    if (facts.unnamedFiles < 0) {
        const int probe =
            ::openat(folder.descriptor(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
        if (probe >= 0)
            ::close(probe);
        // Linking goes through /proc; without it the named way is taken.
        facts.unnamedFiles = probe >= 0 && ::access("/proc/self/fd", X_OK) == 0 ? 1 : 0;
    }
    return facts.unnamedFiles == 1;
}

bool PosixFileOperations::keepsFileIdentities(const OpenFolder &folder)
{
    // FAT and exFAT keep no inode numbers; the kernel and FUSE make them up at each mounting.
    constexpr unsigned long fat = 0x4d44, exfat = 0x2011bab0, fuse = 0x65735546;
    struct statfs drive
    {
    };
    if (::fstatfs(folder.descriptor(), &drive) != 0)
        return true;
    const auto type = static_cast<unsigned long>(drive.f_type);
    return type != fat && type != exfat && type != fuse;
}

QString PosixFileOperations::currentPath(const OpenFolder &folder)
{
    struct stat named
    {
    };
    if (::stat(FileNames::encode(folder.path()).constData(), &named) == 0 &&
        named.st_dev == folder.device() && named.st_ino == folder.inode())
        return folder.path();
    QByteArray now;
    return SystemCalls::pathOfDescriptor(folder.descriptor(), now) ? FileNames::decode(now)
                                                                   : folder.path();
}

QString PosixFileOperations::trashFolderFor(const OpenFolder &folder)
{
    const Trash::Bin &trash = trashOf(folder);
    return trash.isOpen() ? FileNames::decode(trash.folder()) : QString();
}

OpResult PosixFileOperations::listFiles(const QString &folder, QStringList &names)
{
    names.clear();
    OpResult listed = readFolder(folder, [&](int dirFd, const dirent &entry, QByteArrayView name) {
        if (name.startsWith('.'))
            return;
        bool ordinary = entry.d_type == DT_REG;
        if (entry.d_type == DT_LNK || entry.d_type == DT_UNKNOWN) {
            struct stat st
            {
            };
            ordinary = ::fstatat(dirFd, entry.d_name, &st, 0) == 0 && S_ISREG(st.st_mode);
        }
        if (ordinary)
            names.append(FileNames::decode(name.toByteArray()));
    });
    if (!listed)
        names.clear();
    return listed;
}

OpResult PosixFileOperations::listNamesStartingWith(const OpenFolder &folder, const QString &prefix,
                                                    QStringList &names)
{
    names.clear();
    const QByteArray start = FileNames::encode(prefix);
    OpResult listed = readFolder(folder, [&](int, const dirent &, QByteArrayView name) {
        if (name.startsWith(start))
            names.append(FileNames::decode(name.toByteArray()));
    });
    if (!listed)
        names.clear();
    return listed;
}

OpResult PosixFileOperations::listFolder(const OpenFolder &folder, FolderListing &listing)
{
    struct stat here
    {
    };
    if (::fstat(folder.descriptor(), &here) != 0)
        return failureOf(errno, folder.path());
    // A folder's entries live on its device (a mount point is a folder, never a file). Its size
    // tells roughly how many there are (ext4 and tmpfs take some 20 to 40 bytes an entry).
    listing.clear(here.st_dev, qsizetype(std::clamp<off_t>(here.st_size / 32, 0, 1 << 20)));
    OpResult listed = readFolder(folder, [&](int dirFd, const dirent &entry, QByteArrayView name) {
        FileStatus::Type type = FileStatus::Type::Other;
        switch (entry.d_type) {
        case DT_REG:
            type = FileStatus::Type::Regular;
            break;
        case DT_LNK:
            type = FileStatus::Type::SymbolicLink;
            break;
        case DT_DIR:
            type = FileStatus::Type::Directory;
            break;
        case DT_UNKNOWN: {
            struct stat st
            {
            };
            if (::fstatat(dirFd, entry.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                return;
            const FileStatus looked = statusOf(st);
            listing.add(name, looked.type, looked.inode, &looked);
            return;
        }
        default:
            break;
        }
        listing.add(name, type, entry.d_ino);
    });
    if (!listed) {
        listing.clear(here.st_dev);
        return listed;
    }
    // Some file systems (FUSE ones among them) give entries made-up numbers in a listing; one
    // look tells, and then every entry is looked at, so that identities are the files' own.
    for (qsizetype i = 0; i < listing.size(); ++i) {
        const FileStatus listed = listing.statusAt(i);
        if (listed.type != FileStatus::Type::Regular || listed.size >= 0)
            continue;
        struct stat st
        {
        };
        const FileNames::Bytes name(listing.nameAt(i));
        if (::fstatat(folder.descriptor(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            st.st_ino == listed.inode)
            break;
        FolderListing looked;
        looked.clear(here.st_dev);
        for (qsizetype j = 0; j < listing.size(); ++j) {
            const QString entryName = listing.nameAt(j);
            if (::fstatat(folder.descriptor(), FileNames::Bytes(entryName).constData(), &st,
                          AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            const FileStatus status = statusOf(st);
            looked.add(FileNames::encode(entryName), status.type, status.inode, &status);
        }
        listing = std::move(looked);
        break;
    }
    return OpResult::success();
}

OpResult PosixFileOperations::readFile(const QString &path, QByteArray &bytes)
{
    bytes.clear();
    FileDescriptor fd;
    struct stat st
    {
    };
    if (OpResult opened = openRegular(path, O_RDONLY, fd, st); !opened)
        return opened;
    if (const int error = readAll(fd.get(), st.st_size, bytes); error != 0)
        return failureOf(error, path);
    return OpResult::success();
}

OpResult PosixFileOperations::readFileStart(const QString &path, qint64 maxBytes, QByteArray &bytes)
{
    bytes.clear();
    FileDescriptor fd;
    struct stat st
    {
    };
    if (OpResult opened = openRegular(path, O_RDONLY, fd, st); !opened)
        return opened;
    // The file may grow while it is read: never more than asked for.
    bytes.resize(qsizetype(qBound(qint64(0), qint64(st.st_size), maxBytes)));
    qsizetype filled = 0;
    for (;;) {
        if (filled == bytes.size()) {
            if (bytes.size() >= maxBytes)
                break;
            bytes.resize(qsizetype(qMin<qint64>(maxBytes, qint64(bytes.size()) * 2 + 4096)));
        }
        const ssize_t got = ::read(fd.get(), bytes.data() + filled, size_t(bytes.size() - filled));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            bytes.clear();
            return failureOf(error, path);
        }
        if (got == 0)
            break;
        filled += got;
    }
    bytes.resize(filled);
    return OpResult::success();
}

OpResult PosixFileOperations::writeFileAtomically(const QString &path, const QByteArray &bytes,
                                                  bool onlyForTheUser)
{
    // A link keeps pointing where it did: the file it resolves to is the one replaced. Only a
    // link of the user's own is followed, and only to a file of the user's own: a link someone
    // else put in a shared folder must not make us overwrite whatever it names.
    QByteArray target = FileNames::encode(path);
    for (int depth = 0;; ++depth) {
        struct stat st
        {
        };
        if (::lstat(target.constData(), &st) != 0)
            break;
        if (!S_ISLNK(st.st_mode)) {
            if (depth > 0 && st.st_uid != ::geteuid())
                return failureOf(EPERM, path);
            break;
        }
        if (st.st_uid != ::geteuid())
            return failureOf(EPERM, path);
        if (depth == 40)
            return failureOf(ELOOP, path);
        QByteArray points(PATH_MAX, Qt::Uninitialized);
        const ssize_t length = ::readlink(target.constData(), points.data(), size_t(points.size()));
        if (length < 0)
            return failureOf(errno, path);
        points.truncate(length);
        target = points.startsWith('/') ? points : folderOf(target) + '/' + points;
    }

    struct stat previous
    {
    };
    const bool existed = ::stat(target.constData(), &previous) == 0;
    QByteArray temporary;
    FileDescriptor out(
        createHiddenSibling(target, O_WRONLY, onlyForTheUser ? 0600 : 0666, temporary));
    if (!out.valid())
        return failureOf(errno, path);
    int error = 0;
    if (existed && ::fchmod(out.get(), previous.st_mode & 07777) != 0)
        error = errno;
    if (error == 0)
        error = writeAll(out.get(), bytes.constData(), bytes.size());
    if (!out.close() && error == 0)
        error = errno;
    if (error == 0 && ::rename(temporary.constData(), target.constData()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temporary.constData());
        return failureOf(error, path);
    }
    return OpResult::success();
}

OpResult PosixFileOperations::writeJournal(const QString &path, const QByteArray &bytes)
{
    const QByteArray journal = FileNames::encode(path);
    QByteArray temporary;
    // Private: a journal names files that recovery will move.
    FileDescriptor fd(createHiddenSibling(journal, O_RDWR, 0600, temporary));
    if (!fd.valid())
        return failureOf(errno, path);
    // Locked before it gets the journal's name, so the name never shows an unlocked journal.
    int error = ::flock(fd.get(), LOCK_EX) == 0 ? 0 : errno;
    if (error == 0)
        error = writeAll(fd.get(), bytes.constData(), bytes.size());
    if (error == 0 && ::fsync(fd.get()) != 0)
        error = errno;
    // Only our own journal is replaced; one left by another run is never written over.
    const auto held = m_heldJournals.constFind(path);
    if (error == 0) {
        if (held != m_heldJournals.cend())
            error = ::rename(temporary.constData(), journal.constData()) == 0 ? 0 : errno;
        else
            error = renameWithoutReplacing(temporary, journal);
    }
    if (error != 0) {
        ::unlink(temporary.constData());
        return failureOf(error, path);
    }
    if (held != m_heldJournals.cend())
        ::close(*held);
    m_heldJournals.insert(path, fd.release());
    if (const int synced = syncFolder(folderOf(journal)); synced != 0)
        return failureOf(synced, path);
    return OpResult::success();
}

OpResult PosixFileOperations::finishJournal(const QString &path)
{
    const auto held = m_heldJournals.constFind(path);
    if (held == m_heldJournals.cend())
        return failureOf(EBADF, path);
    // Removed while still locked, so no other run takes it up in between; a journal renamed
    // away meanwhile keeps its new name, and whatever now has this name stays.
    const QByteArray journal = FileNames::encode(path);
    struct stat named
    {
    }, locked{};
    int error = 0;
    if (::lstat(journal.constData(), &named) == 0 && ::fstat(*held, &locked) == 0 &&
        sameIdentity(named, locked))
        error = ::unlink(journal.constData()) == 0 ? 0 : errno;
    ::close(*held);
    m_heldJournals.erase(held);
    if (error != 0)
        return failureOf(error, path);
    return OpResult::success();
}

OpResult PosixFileOperations::claimJournal(const QString &path, QByteArray &bytes, qint64 sizeLimit)
{
    bytes.clear();
    if (const auto held = m_heldJournals.constFind(path); held != m_heldJournals.cend()) {
        if (::lseek(*held, 0, SEEK_SET) != 0)
            return failureOf(errno, path);
        const int error = readAll(*held, 0, bytes, sizeLimit);
        return error == 0 ? OpResult::success() : failureOf(error, path);
    }
    const QByteArray journal = FileNames::encode(path);
    for (int attempt = 0;; ++attempt) {
        FileDescriptor fd;
        struct stat opened
        {
        };
        // A journal in a folder that became read-only is still read and acted on; a lock
        // needs no write access.
        // Never through a link: it could name any file of the user's, chosen by whoever put
        // the link into the folder.
        if (OpResult result = openRegular(path, O_RDWR | O_NOFOLLOW, fd, opened); !result) {
            if (OpResult readOnly = openRegular(path, O_RDONLY | O_NOFOLLOW, fd, opened); !readOnly)
                return result;
        }
        // Recovery renames files as the journal says: only a journal of this user's own, that
        // no one else may have written, is acted on.
        if (!SystemCalls::ownedByTheUserAlone(fd.get(), opened))
            return failureOf(EPERM, path);
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
            return failureOf(errno, path);
        // A running batch may have renamed a newer journal over the one we opened and locked.
        struct stat named
        {
        };
        if (::stat(journal.constData(), &named) != 0)
            return failureOf(errno, path);
        if (!sameIdentity(named, opened)) {
            if (attempt < 10)
                continue;
            return failureOf(ENOENT, path);
        }
        // Held even when it is too long to read: the caller sets it aside, knowing its head.
        int error = opened.st_size > sizeLimit
                        ? EFBIG
                        : readAll(fd.get(), opened.st_size, bytes, sizeLimit);
        if (error == EFBIG) {
            bytes.resize(qMin<qint64>(sizeLimit, journalHead));
            const ssize_t got = ::pread(fd.get(), bytes.data(), size_t(bytes.size()), 0);
            bytes.resize(got > 0 ? got : 0);
        }
        m_heldJournals.insert(path, fd.release());
        if (error != 0)
            return failureOf(error, path);
        return OpResult::success();
    }
}

void PosixFileOperations::releaseJournal(const QString &path)
{
    if (const auto held = m_heldJournals.constFind(path); held != m_heldJournals.cend()) {
        ::close(*held);
        m_heldJournals.erase(held);
    }
}
