#include "regularfile.h"

#include "filenames.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QString notARegularFileText()
{
    return QStringLiteral("通常のファイルではありません。");
}

OpResult openRegularFile(const QString &path, QFile &file)
{
    // O_NONBLOCK: opening a pipe without a writer, or a device, must not wait.
    const int fd = ::open(FileNames::encode(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return OpResult::failure(systemErrorText(errno), path);
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0) {
        const int saved = errno;
        ::close(fd);
        return OpResult::failure(systemErrorText(saved), path);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return OpResult::failure(
            S_ISDIR(st.st_mode) ? systemErrorText(EISDIR) : notARegularFileText(), path);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return OpResult::failure(systemErrorText(EIO), path);
    }
    return OpResult::success();
}
