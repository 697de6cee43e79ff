#include "filecopy.h"

#include "systemcalls.h"

#include <QByteArray>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <linux/fs.h>
#include <linux/limits.h>
#include <mutex>
#include <string_view>
#include <sys/ioctl.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace SystemCalls {

namespace {

/// The window is let to answer at least this often while bytes move.
constexpr off_t busyInterval = off_t(16) << 20;
/// What one call counts for towards that interval, so a file of many small pieces lets the
/// window answer as well.
constexpr off_t callWeight = off_t(64) << 10;
constexpr size_t bufferSize = size_t(1) << 20;

enum class FastPath
{
    Clone,
    CopyRange
};

/// The kernel's fast paths that drives refused, remembered for the life of the process so that
/// a batch does not ask again for every file. A device number used again by another drive
/// later costs only speed: the slower ways copy just as well.
class Refusals
{
public:
    bool refused(FastPath path, dev_t source, dev_t target) const
    {
        const std::lock_guard lock(m_mutex);
        return std::any_of(m_refusals.cbegin(), m_refusals.cend(), [&](const Refusal &refusal) {
            return refusal.path == path && refusal.target == target &&
                   (refusal.anySource || refusal.source == source);
        });
    }

    /// `anySource` when the target's file system alone is the reason.
    void note(FastPath path, dev_t source, dev_t target, bool anySource)
    {
        if (refused(path, source, target))
            return;
        const std::lock_guard lock(m_mutex);
        m_refusals.push_back({path, source, target, anySource});
    }

private:
    struct Refusal
    {
        FastPath path;
        dev_t source;
        dev_t target;
        bool anySource;
    };
    mutable std::mutex m_mutex;
    std::vector<Refusal> m_refusals;
};

Refusals &refusals()
{
    static Refusals remembered;
    return remembered;
}

class Progress
{
public:
    void moved(off_t bytes)
    {
        m_sinceBusy += bytes + callWeight;
        if (m_sinceBusy >= busyInterval) {
            m_sinceBusy = 0;
            stillBusy();
        }
    }

private:
    off_t m_sinceBusy = 0;
};

/// Writes all of `size` bytes at `offset`; returns 0 or the errno of the failing write.
int writeAllAt(int fd, const char *data, size_t size, off_t offset)
{
    while (size > 0) {
        const ssize_t written = ::pwrite(fd, data, size, offset);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        data += written;
        size -= size_t(written);
        offset += written;
    }
    return 0;
}

/// Moves byte ranges of `in` to the same offsets of `out`: by copy_file_range where the drives
/// take it, else by reads and writes. Offsets are always explicit, so neither descriptor's own
/// offset matters.
class RangeCopier
{
public:
    RangeCopier(int in, dev_t source, int out, dev_t target)
        : m_in(in), m_out(out), m_source(source), m_target(target),
          m_copyRange(!refusals().refused(FastPath::CopyRange, source, target))
    {}

    /// Copies [offset, end); `reached` is where it stopped, before `end` where the source ends
    /// sooner. False with errno set on failure.
    bool copy(off_t offset, off_t end, off_t &reached)
    {
        while (offset < end) {
            const size_t chunk = size_t(std::min(end - offset, busyInterval));
            if (m_copyRange) {
                off64_t from = offset;
                off64_t to = offset;
                const ssize_t moved = ::copy_file_range(m_in, &from, m_out, &to, chunk, 0);
                if (moved > 0) {
                    offset += moved;
                    m_rangeCopied = true;
                    m_progress.moved(moved);
                    continue;
                }
                if (moved < 0 && errno == EINTR)
                    continue;
                if (moved < 0 && (m_rangeCopied || !copyRangeRefused(errno)))
                    return false;
                if (moved < 0 && errno != EINVAL && errno != EBADF && errno != EPERM)
                    refusals().note(FastPath::CopyRange, m_source, m_target, false);
                // Refused, or nothing came where the size promised bytes (older kernels do that
                // for files of /proc and /sys, and so does a file cut short meanwhile): plain
                // reads tell.
                m_copyRange = false;
                continue;
            }
            const ssize_t got = readAt(offset, std::min(chunk, bufferSize));
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            if (got == 0)
                break;
            if (const int error = writeAllAt(m_out, buffer().constData(), size_t(got), offset);
                error != 0) {
                errno = error;
                return false;
            }
            offset += got;
            m_progress.moved(got);
        }
        reached = offset;
        return true;
    }

    /// Reads from `offset` to wherever the source ends, whatever its size says.
    bool copyToEnd(off_t offset, off_t &reached)
    {
        m_copyRange = false;
        return copy(offset, std::numeric_limits<off_t>::max(), reached);
    }

private:
    static bool copyRangeRefused(int error)
    {
        return error == EXDEV || error == ENOSYS || error == EOPNOTSUPP || error == EINVAL ||
               error == EBADF || error == EPERM;
    }

    static QByteArray &buffer()
    {
        static thread_local QByteArray bytes(bufferSize, Qt::Uninitialized);
        return bytes;
    }

    ssize_t readAt(off_t offset, size_t size)
    {
        if (!m_sequential) {
            const ssize_t got = ::pread(m_in, buffer().data(), size, offset);
            // A file that cannot be read at an offset (some of /proc) is read in sequence from
            // where a fresh descriptor stands.
            if (got >= 0 || errno != ESPIPE || offset != 0)
                return got;
            m_sequential = true;
        }
        return ::read(m_in, buffer().data(), size);
    }

    const int m_in;
    const int m_out;
    const dev_t m_source;
    const dev_t m_target;
    bool m_copyRange;
    bool m_rangeCopied = false;
    bool m_sequential = false;
    Progress m_progress;
};

/// Copies the content of `in` into the empty `out`, holes kept. `size` is the copy's size:
/// the source's, or less where the source ended sooner than its status said. False with errno
/// set on failure.
bool copyContent(int in, const struct stat &source, int out, const struct stat &target, off_t &size)
{
    RangeCopier copier(in, source.st_dev, out, target.st_dev);
    size = source.st_size;
    // An empty size may still hide content (files of /proc): only reading tells.
    if (size == 0)
        return copier.copyToEnd(0, size);
    if (!refusals().refused(FastPath::Clone, source.st_dev, target.st_dev)) {
        // A reflink shares the source's blocks, holes included.
        if (::ioctl(out, FICLONE, in) == 0)
            return true;
        // Across mounts the pair is the reason; otherwise the target's file system.
        if (errno == EXDEV)
            refusals().note(FastPath::Clone, source.st_dev, target.st_dev, false);
        else if (errno == EOPNOTSUPP || errno == EINVAL || errno == ENOTTY || errno == ENOSYS)
            refusals().note(FastPath::Clone, source.st_dev, target.st_dev, true);
    }

    // Only a file with fewer blocks than its size needs can have holes (as cp judges); the
    // others are copied without asking where their data lies.
    bool mayHaveHoles = source.st_blocks < (source.st_size + 511) / 512;
    off_t position = 0;
    off_t writtenEnd = 0;
    while (position < size) {
        off_t data = position;
        off_t hole = size;
        if (mayHaveHoles) {
            data = ::lseek(in, position, SEEK_DATA);
            if (data < 0 && errno == ENXIO)
                break; // nothing but a hole up to the end
            if (data < 0 && errno != EINVAL)
                return false;
            if (data < 0) {
                // The file system cannot tell: the rest is copied whole.
                mayHaveHoles = false;
                data = position;
            } else if (data >= size) {
                break;
            } else {
                hole = ::lseek(in, data, SEEK_HOLE);
                if (hole < 0)
                    return false;
                hole = std::min(hole, size);
            }
        }
        off_t reached = data;
        if (!copier.copy(data, hole, reached))
            return false;
        if (reached > data)
            writtenEnd = reached;
        if (reached < hole) {
            size = reached;
            break;
        }
        position = hole;
    }
    // The copy gets its size only now, so that holes at the end stay holes.
    return writtenEnd == size || ::ftruncate(out, size) == 0;
}

/// Whether a copy carries the attribute: the user's own (file managers keep tags, ratings and
/// the download origin there) and the access ACL. The kernel's and the security modules' own
/// belong to each file and stay behind.
bool carried(std::string_view name, bool &user)
{
    user = name.starts_with("user.");
    return user || name == "system.posix_acl_access";
}

/// A source whose drive offers no attribute to read (or no longer this one) has none to copy.
bool nothingToRead(int error)
{
    return error == EOPNOTSUPP || error == ENODATA || error == ENOSYS || error == EACCES ||
           error == EPERM;
}

/// A target drive that cannot hold an attribute (none at all, no ACLs, smaller limits) takes the
/// copy without it, as cp does. No room for it (ENOSPC, EDQUOT) is such a limit too: the content
/// has already fitted, and ext4 answers so for an attribute larger than its block.
bool cannotHold(int error)
{
    return error == EOPNOTSUPP || error == EPERM || error == E2BIG || error == ERANGE ||
           error == EINVAL || error == ENOSYS || error == ENOSPC || error == EDQUOT;
}

/// Returns 0 or the errno of the failure.
int copyAttributes(int in, int out)
{
    // The kernel's limits for a list and for a value: one read always does.
    static thread_local QByteArray names(XATTR_LIST_MAX, Qt::Uninitialized);
    const ssize_t listed = ::flistxattr(in, names.data(), size_t(names.size()));
    if (listed < 0)
        return nothingToRead(errno) ? 0 : errno;
    static thread_local QByteArray value;
    bool userRefused = false;
    for (const char *name = names.constData(); name < names.constData() + listed;
         name += std::strlen(name) + 1) {
        bool user = false;
        if (!carried(name, user) || (user && userRefused))
            continue;
        if (value.isEmpty())
            value.resize(XATTR_SIZE_MAX);
        const ssize_t length = ::fgetxattr(in, name, value.data(), size_t(value.size()));
        if (length < 0) {
            if (nothingToRead(errno))
                continue;
            return errno;
        }
        if (::fsetxattr(out, name, value.constData(), size_t(length), 0) != 0) {
            if (!cannotHold(errno))
                return errno;
            userRefused = userRefused || user;
        }
    }
    return 0;
}

} // namespace

int fillCopy(int in, const struct stat &st, int out, bool sync, struct stat *written)
{
    // The new file's own status tells its drive (for the fast paths) and the mode it was
    // created with.
    struct stat target
    {
    };
    if (::fstat(out, &target) != 0)
        return errno;
    off_t size = 0;
    if (!copyContent(in, st, out, target, size))
        return errno;
    // The creator asked for the source's bits and the umask or the folder's default ACL may
    // have taken some; those, and set-id bits (which writing would clear), come now, before the
    // ACL, whose mask is tied to the group bits.
    const mode_t mode = st.st_mode & 07777;
    if ((target.st_mode & 07777) != mode && ::fchmod(out, mode) != 0)
        return errno;
    if (const int error = copyAttributes(in, out); error != 0)
        return error;
    // Last, as cutting the size to length changes the time.
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (::futimens(out, times) != 0)
        return errno;
    if (sync && ::fsync(out) != 0)
        return errno;
    if (written) {
        *written = target;
        written->st_mode = (target.st_mode & S_IFMT) | mode;
        written->st_size = size;
        written->st_atim = st.st_atim;
        written->st_mtim = st.st_mtim;
    }
    return 0;
}

} // namespace SystemCalls
