#include "filecopy.h"

#include "systemcalls.h"

#include <QByteArray>

#include <cerrno>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace SystemCalls {

namespace {

bool readWriteLoop(int in, int out)
{
    static constexpr size_t bufferSize = 1 << 20;
    static thread_local QByteArray buffer(bufferSize, Qt::Uninitialized);
    for (int chunk = 1;; ++chunk) {
        if (chunk % 16 == 0)
            stillBusy();
        const ssize_t got = ::read(in, buffer.data(), bufferSize);
        if (got == 0)
            return true;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (const int error = writeAll(out, buffer.constData(), got); error != 0) {
            errno = error;
            return false;
        }
    }
}

} // namespace

bool copyData(int in, int out, off_t size)
{
    // An empty size may still hide content (files of /proc): only reading tells.
    if (size == 0)
        return readWriteLoop(in, out);
    if (::ioctl(out, FICLONE, in) == 0)
        return true;
    off_t copied = 0;
    for (;;) {
        // In chunks of 16 MiB, so that a long copy lets the window answer in between.
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, size_t(16) << 20, 0);
        if (n > 0) {
            copied += n;
            stillBusy();
            continue;
        }
        if (n == 0)
            return copied > 0 || readWriteLoop(in, out);
        if (errno == EINTR)
            continue;
        if (copied == 0 && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP ||
                            errno == EINVAL || errno == EBADF || errno == EPERM))
            return readWriteLoop(in, out);
        return false;
    }
}

int fillCopy(int in, const struct stat &st, int out, bool sync)
{
    if (::lseek(in, 0, SEEK_SET) != 0 || !copyData(in, out, st.st_size))
        return errno;
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (::futimens(out, times) != 0 || ::fchmod(out, st.st_mode & 07777) != 0)
        return errno;
    if (sync && ::fsync(out) != 0)
        return errno;
    return 0;
}

} // namespace SystemCalls
