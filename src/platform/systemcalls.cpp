#include "systemcalls.h"

#include <QByteArray>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>

namespace SystemCalls {

int renameWithoutReplacing(int fromFolder, const char *from, int toFolder, const char *to)
{
    if (::renameat2(fromFolder, from, toFolder, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return errno;
    // The file system does not take the flag (NFS and older ones): a link fails on an
    // existing name, as the rename should have.
    if (::linkat(fromFolder, from, toFolder, to, 0) == 0) {
        if (::unlinkat(fromFolder, from, 0) != 0) {
            const int error = errno;
            ::unlinkat(toFolder, to, 0);
            return error;
        }
        return 0;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK)
        return errno;
    // No links either (FAT): look, then rename; a name appearing in between is the only gap.
    struct stat st
    {
    };
    if (::fstatat(toFolder, to, &st, AT_SYMLINK_NOFOLLOW) == 0)
        return EEXIST;
    if (errno != ENOENT)
        return errno;
    return ::renameat(fromFolder, from, toFolder, to) == 0 ? 0 : errno;
}

int linkUnnamed(int fd, int folder, const char *name)
{
    char unnamed[32];
    std::snprintf(unnamed, sizeof unnamed, "/proc/self/fd/%d", fd);
    return ::linkat(AT_FDCWD, unnamed, folder, name, AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
}

bool unnamedRefused(int error)
{
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL || error == ENOENT ||
           error == ENOSYS || error == EPERM || error == EXDEV;
}

bool pathOfDescriptor(int fd, QByteArray &path)
{
    char link[PATH_MAX];
    const QByteArray proc = "/proc/self/fd/" + QByteArray::number(fd);
    const ssize_t length = ::readlink(proc.constData(), link, sizeof link);
    if (length <= 0 || link[0] != '/' || size_t(length) >= sizeof link)
        return false;
    const QByteArrayView now(link, length);
    // The system marks a deleted folder so; a folder may also be named so.
    struct stat st
    {
    };
    if (now.endsWith(" (deleted)") && (::fstat(fd, &st) != 0 || st.st_nlink == 0))
        return false;
    path = now.toByteArray();
    return true;
}

int syncFolder(int folder)
{
    if (::fsync(folder) != 0 && errno != EINVAL)
        return errno;
    return 0;
}

int openRegularAt(int folder, const char *name, bool followLinks, FileDescriptor &fd,
                  struct stat &st, bool seenRegular)
{
    const int noFollow = followLinks ? 0 : AT_SYMLINK_NOFOLLOW;
    if (!seenRegular && ::fstatat(folder, name, &st, noFollow) == 0 && !S_ISREG(st.st_mode))
        return S_ISDIR(st.st_mode) ? EISDIR : ENODEV;
    fd.reset(
        ::openat(folder, name,
                 O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | (followLinks ? 0 : O_NOFOLLOW)));
    if (!fd.valid())
        return errno;
    if (::fstat(fd.get(), &st) != 0)
        return errno;
    if (!S_ISREG(st.st_mode)) {
        fd.reset(-1);
        return S_ISDIR(st.st_mode) ? EISDIR : ENODEV;
    }
    return 0;
}

} // namespace SystemCalls
