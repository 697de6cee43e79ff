#pragma once

// Small helpers shared by the parts of platform/ that talk to the system directly.

#include "opresult.h"

#include <QByteArray>
#include <QString>

#include <cerrno>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace SystemCalls {

/// Owns one open file descriptor.
class FileDescriptor
{
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    ~FileDescriptor() { reset(-1); }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    void reset(int fd)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    /// Closes now and reports the close's own failure (a late write error on some file systems).
    bool close() { return ::close(release()) == 0; }

private:
    int m_fd;
};

/// Writes all of `size` bytes; returns 0 or the errno of the failing write.
inline int writeAll(int fd, const char *data, qsizetype size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size_t(size));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        data += written;
        size -= written;
    }
    return 0;
}

/// The handler long copies call between their chunks, so the window can stay alive; set for
/// the time of one operation by BusyScope.
inline const std::function<void()> *busyHandler = nullptr;

inline void stillBusy()
{
    if (busyHandler && *busyHandler)
        (*busyHandler)();
}

class BusyScope
{
public:
    explicit BusyScope(const std::function<void()> &handler) : m_previous(busyHandler)
    {
        busyHandler = &handler;
    }
    ~BusyScope() { busyHandler = m_previous; }
    BusyScope(const BusyScope &) = delete;
    BusyScope &operator=(const BusyScope &) = delete;

private:
    const std::function<void()> *m_previous;
};

inline OpResult failureOf(int error, const QString &path)
{
    return OpResult::systemFailure(error, path);
}

/// The folder part of a path in bytes ("/" for the root, "." for a bare name).
inline QByteArray folderOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return ".";
    return slash == 0 ? QByteArray("/") : path.left(slash);
}

inline QByteArray fileNameOf(const QByteArray &path)
{
    return path.mid(path.lastIndexOf('/') + 1);
}

/// The open file `fd` (as `opened` shows it) is this user's own and no one else may write it:
/// owned by the effective user, not writable by group or others. Drives without permissions
/// (FAT, exFAT) show every file writable by all, whatever is asked; there the owner's file
/// counts.
inline bool ownedByTheUserAlone(int fd, const struct stat &opened)
{
    if (opened.st_uid != ::geteuid())
        return false;
    if ((opened.st_mode & (S_IWGRP | S_IWOTH)) == 0)
        return true;
    struct stat after
    {
    };
    const bool honoured = ::fchmod(fd, opened.st_mode & 0700) == 0 && ::fstat(fd, &after) == 0 &&
                          (after.st_mode & (S_IWGRP | S_IWOTH)) == 0;
    if (!honoured)
        return true;
    // Left as it was found, so that it is refused again next time.
    ::fchmod(fd, opened.st_mode & 07777);
    return false;
}

} // namespace SystemCalls

namespace SystemCalls {

/// Renames the entry `from` of the folder `fromFolder` to `to` in `toFolder` without ever
/// replacing an existing entry; returns 0 or the errno (EEXIST when `to` exists). File systems
/// without RENAME_NOREPLACE get a link and an unlink, or, without links either, a look and a
/// rename.
int renameWithoutReplacing(int fromFolder, const char *from, int toFolder, const char *to);

/// Gives the unnamed file `fd` (O_TMPFILE) the name `name` in `folder`; returns 0 or the errno.
int linkUnnamed(int fd, int folder, const char *name);

/// True when a failure to make or link an unnamed file only means the system does not offer
/// that way here.
bool unnamedRefused(int error);

/// The path the system knows the open file or folder `fd` by now (from /proc), wherever it
/// has been renamed to; false where /proc does not tell or it has been deleted.
bool pathOfDescriptor(int fd, QByteArray &path);

/// Syncs the folder `folder`; returns 0 or the errno. A folder its file system cannot sync is
/// no failure.
int syncFolder(int folder);

/// Opens a regular entry `name` of `folder` for reading without ever blocking: pipes and devices
/// are refused before they are opened (opening some devices does something) and by the open
/// file's own type after; links are followed unless `followLinks` is false. The file stays
/// non-blocking, so a file of /proc that looks regular but waits for data fails with EAGAIN
/// instead of hanging. Returns 0, EISDIR for a folder, ENODEV for anything else that is no
/// regular file, or the errno. `seenRegular`: the entry was just seen as a regular file (in a
/// listing), so the look before opening is spared; the open file's type is still checked.
int openRegularAt(int folder, const char *name, bool followLinks, FileDescriptor &fd,
                  struct stat &st, bool seenRegular = false);

} // namespace SystemCalls
