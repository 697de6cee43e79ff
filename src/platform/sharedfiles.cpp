// The program's shared files (the undo history): locked, trusted only as the user's own, and
// replaced whole.

#include "filenames.h"
#include "posixfileoperations.h"
#include "regularfile.h"
#include "systemcalls.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using SystemCalls::BusyScope;
using SystemCalls::failureOf;
using SystemCalls::FileDescriptor;

namespace {

constexpr int lockRetryMs = 20;

} // namespace

OpResult PosixFileOperations::lockSharedFile(const QString &path, bool create, FileStatus &locked)
{
    locked = {};
    unlockSharedFile(path);
    const QByteArray name = FileNames::encode(path);
    const int flags =
        O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (create ? O_CREAT : 0);
    // Another run may replace the file between our open and our lock: then the name is
    // opened again.
    for (int attempt = 0; attempt < 100; ++attempt) {
        // Devices and pipes are refused before they are opened (opening some does something).
        struct stat entry
        {
        };
        if (::lstat(name.constData(), &entry) == 0 && !S_ISREG(entry.st_mode))
            return OpResult::failure(
                S_ISDIR(entry.st_mode) ? systemErrorText(EISDIR) : notARegularFileText(), path);
        FileDescriptor fd(::open(name.constData(), flags, 0600));
        if (!fd.valid()) {
            if (errno == ENOENT && !create)
                return OpResult::success();
            // A link is not followed: it could lead anywhere.
            if (errno == ELOOP)
                return OpResult::failure(notARegularFileText(), path);
            return failureOf(errno, path);
        }
        struct stat opened
        {
        };
        if (::fstat(fd.get(), &opened) != 0)
            return failureOf(errno, path);
        if (!S_ISREG(opened.st_mode))
            return OpResult::failure(
                S_ISDIR(opened.st_mode) ? systemErrorText(EISDIR) : notARegularFileText(), path);
        if (!SystemCalls::ownedByTheUserAlone(fd.get(), opened))
            return OpResult::failure(notTheUsersOwnText(), path);
        // Held only for one read and write, so a lock that lasts is not another window's
        // change but a stopped or hostile process (on drives without permissions anyone may
        // lock the file): waited for a while, with the window kept alive, never for ever.
        const BusyScope busy(m_busy);
        for (int wait = 0; ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0; ++wait) {
            if (errno != EWOULDBLOCK && errno != EINTR)
                return failureOf(errno, path);
            if (wait * lockRetryMs >= m_options.lockWaitMs)
                return failureOf(EWOULDBLOCK, path);
            SystemCalls::stillBusy();
            ::usleep(lockRetryMs * 1000);
        }
        struct stat named
        {
        };
        if (::lstat(name.constData(), &named) != 0) {
            if (errno == ENOENT)
                continue;
            return failureOf(errno, path);
        }
        if (named.st_dev != opened.st_dev || named.st_ino != opened.st_ino)
            continue;
        // Its size as the lock holder sees it.
        if (::fstat(fd.get(), &opened) != 0)
            return failureOf(errno, path);
        locked.type = FileStatus::Type::Regular;
        locked.device = opened.st_dev;
        locked.inode = opened.st_ino;
        locked.size = opened.st_size;
        locked.modifiedNs = qint64(opened.st_mtim.tv_sec) * 1000000000 + opened.st_mtim.tv_nsec;
        locked.links = opened.st_nlink;
        m_lockedFiles.try_emplace(path, fd.release());
        return OpResult::success();
    }
    return failureOf(EAGAIN, path);
}

OpResult PosixFileOperations::readLockedFile(const QString &path, qint64 maxBytes,
                                             QByteArray &bytes)
{
    bytes.clear();
    const auto held = m_lockedFiles.find(path);
    if (held == m_lockedFiles.end())
        return failureOf(EBADF, path);
    struct stat st
    {
    };
    if (::fstat(held->second.get(), &st) != 0)
        return failureOf(errno, path);
    bytes.resize(qsizetype(std::clamp<qint64>(st.st_size, 0, maxBytes)));
    qsizetype filled = 0;
    while (filled < bytes.size()) {
        const ssize_t got = ::pread(held->second.get(), bytes.data() + filled,
                                    size_t(bytes.size() - filled), off_t(filled));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int error = errno;
            bytes.clear();
            return failureOf(error, path);
        }
        if (got == 0)
            break;
        filled += got;
    }
    bytes.truncate(filled);
    return OpResult::success();
}

OpResult PosixFileOperations::replaceLockedFile(const QString &path, const QByteArray &bytes,
                                                const QString &temporary)
{
    if (m_lockedFiles.find(path) == m_lockedFiles.end())
        return failureOf(EBADF, path);
    // Only the lock holder writes the temporary, so whatever stands there is a killed run's.
    const QByteArray partial = FileNames::encode(temporary);
    if (::unlink(partial.constData()) != 0 && errno != ENOENT)
        return failureOf(errno, temporary);
    FileDescriptor out(
        ::open(partial.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!out.valid())
        return failureOf(errno, path);
    int error = SystemCalls::writeAll(out.get(), bytes.constData(), bytes.size());
    if (!out.close() && error == 0)
        error = errno;
    if (error == 0 && ::rename(partial.constData(), FileNames::encode(path).constData()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(partial.constData());
        return failureOf(error, path);
    }
    return OpResult::success();
}

void PosixFileOperations::unlockSharedFile(const QString &path)
{
    m_lockedFiles.erase(path);
}
