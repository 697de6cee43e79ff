#include "posixfileoperations.h"

#include "paths.h"

#include <QFile>
#include <QRandomGenerator>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

OpResult lastError()
{
    return OpResult::failure(systemErrorText(errno));
}

class FileDescriptor
{
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    void reset(int fd)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    /// Closes now and reports the close's own failure (a late write error on some file systems).
    bool close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

bool readWriteLoop(int in, int out)
{
    static constexpr size_t bufferSize = 1 << 20;
    static thread_local QByteArray buffer(bufferSize, Qt::Uninitialized);
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), bufferSize);
        if (got == 0)
            return true;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        const char *p = buffer.constData();
        ssize_t left = got;
        while (left > 0) {
            const ssize_t written = ::write(out, p, size_t(left));
            if (written < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            p += written;
            left -= written;
        }
    }
}

/// Moves the bytes of `in` into the empty file `out`: reflink, then copy_file_range,
/// then plain reads and writes where the kernel refuses the faster ways.
bool copyData(int in, int out, off_t size)
{
    if (size == 0)
        return true;
    if (::ioctl(out, FICLONE, in) == 0)
        return true;
    off_t copied = 0;
    for (;;) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, size_t(1) << 30, 0);
        if (n > 0) {
            copied += n;
            continue;
        }
        if (n == 0)
            return true;
        if (errno == EINTR)
            continue;
        if (copied == 0 && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP ||
                            errno == EINVAL || errno == EBADF || errno == EPERM))
            return readWriteLoop(in, out);
        return false;
    }
}

QByteArray hiddenSiblingName(const QByteArray &folder, const char *suffix)
{
    const quint64 token = QRandomGenerator::global()->generate64();
    return folder + "/.kaenami-" + QByteArray::number(token, 36) + suffix;
}

/// Writes the open source into `out`, then its times and permission bits.
bool fillCopy(int in, const struct stat &st, int out)
{
    if (!copyData(in, out, st.st_size))
        return false;
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (::futimens(out, times) != 0)
        return false;
    return ::fchmod(out, st.st_mode & 07777) == 0;
}

/// Creates `destination`, which must not exist, as a copy of the open source.
/// Returns 0 or the errno of the failure; a half-written file is removed again.
int copyIntoNewFile(int in, const struct stat &st, const QByteArray &destination)
{
    FileDescriptor out(::open(destination.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                              (st.st_mode & 07777) | S_IWUSR));
    if (!out.valid())
        return errno;
    if (!fillCopy(in, st, out.get()) || !out.close()) {
        const int saved = errno;
        ::unlink(destination.constData());
        return saved;
    }
    return 0;
}

OpResult openSource(const QByteArray &source, FileDescriptor &fd, struct stat &st)
{
    fd.reset(::open(source.constData(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid())
        return lastError();
    if (::fstat(fd.get(), &st) != 0)
        return lastError();
    if (!S_ISREG(st.st_mode))
        return OpResult::failure(systemErrorText(S_ISDIR(st.st_mode) ? EISDIR : EINVAL));
    return OpResult::success();
}

} // namespace

OpResult PosixFileOperations::copyFile(const QString &source, const QString &destination)
{
    const QByteArray src = QFile::encodeName(source);
    const QByteArray dst = QFile::encodeName(destination);
    FileDescriptor in;
    struct stat st
    {
    };
    if (OpResult opened = openSource(src, in, st); !opened)
        return opened;

    const int direct = copyIntoNewFile(in.get(), st, dst);
    if (direct == 0)
        return OpResult::success();
    if (direct != EEXIST)
        return OpResult::failure(systemErrorText(direct));

    // The destination exists: build the copy beside it and swap it in with one rename.
    const QByteArray folder = QFile::encodeName(Paths::folderOf(destination));
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray temporary = hiddenSiblingName(folder, ".part");
        if (::lseek(in.get(), 0, SEEK_SET) != 0)
            return lastError();
        const int made = copyIntoNewFile(in.get(), st, temporary);
        if (made == EEXIST)
            continue;
        if (made != 0)
            return OpResult::failure(systemErrorText(made));
        if (::rename(temporary.constData(), dst.constData()) != 0) {
            const int saved = errno;
            ::unlink(temporary.constData());
            return OpResult::failure(systemErrorText(saved));
        }
        return OpResult::success();
    }
    return OpResult::failure(systemErrorText(EEXIST));
}

OpResult PosixFileOperations::moveFile(const QString &source, const QString &destination)
{
    const QByteArray src = QFile::encodeName(source);
    const QByteArray dst = QFile::encodeName(destination);
    if (::rename(src.constData(), dst.constData()) == 0)
        return OpResult::success();
    if (errno != EXDEV)
        return lastError();
    if (OpResult copied = copyFile(source, destination); !copied)
        return copied;
    return removeFile(source);
}

OpResult PosixFileOperations::removeFile(const QString &path)
{
    if (::unlink(QFile::encodeName(path).constData()) != 0)
        return lastError();
    return OpResult::success();
}

OpResult PosixFileOperations::setAside(const QString &source, QString &keptPath)
{
    const QByteArray src = QFile::encodeName(source);
    const QByteArray folder = QFile::encodeName(Paths::folderOf(source));
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray kept = hiddenSiblingName(folder, ".keep");
        if (::link(src.constData(), kept.constData()) == 0) {
            keptPath = QFile::decodeName(kept);
            return OpResult::success();
        }
        if (errno == EEXIST)
            continue;
        if (errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK && errno != EXDEV)
            return lastError();
        // File systems without hard links (FAT on a memory card): keep a full copy instead.
        FileDescriptor in;
        struct stat st
        {
        };
        if (OpResult opened = openSource(src, in, st); !opened)
            return opened;
        const int made = copyIntoNewFile(in.get(), st, kept);
        if (made == EEXIST)
            continue;
        if (made != 0)
            return OpResult::failure(systemErrorText(made));
        keptPath = QFile::decodeName(kept);
        return OpResult::success();
    }
    return OpResult::failure(systemErrorText(EEXIST));
}

bool PosixFileOperations::isOrdinaryFile(const QString &path)
{
    struct stat st
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

bool PosixFileOperations::isSameFile(const QString &a, const QString &b)
{
    struct stat sa
    {
    }, sb{};
    return ::stat(QFile::encodeName(a).constData(), &sa) == 0 &&
           ::stat(QFile::encodeName(b).constData(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

OpResult PosixFileOperations::listFiles(const QString &folder, QStringList &names)
{
    names.clear();
    const QByteArray path = QFile::encodeName(folder);
    DIR *dir = ::opendir(path.constData());
    if (!dir)
        return lastError();
    const int dirFd = ::dirfd(dir);
    errno = 0;
    while (const dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        bool ordinary = entry->d_type == DT_REG;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat st
            {
            };
            ordinary = ::fstatat(dirFd, entry->d_name, &st, 0) == 0 && S_ISREG(st.st_mode);
        }
        if (ordinary)
            names.append(QFile::decodeName(entry->d_name));
        errno = 0;
    }
    const int readError = errno;
    ::closedir(dir);
    if (readError != 0) {
        names.clear();
        return OpResult::failure(systemErrorText(readError));
    }
    return OpResult::success();
}

OpResult PosixFileOperations::readFile(const QString &path, QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return OpResult::failure(file.errorString());
    bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return OpResult::failure(file.errorString());
    return OpResult::success();
}

OpResult PosixFileOperations::writeFileAtomically(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return OpResult::failure(file.errorString());
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return OpResult::failure(file.errorString());
    }
    if (!file.commit())
        return OpResult::failure(file.errorString());
    return OpResult::success();
}
