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

QString notTheUsersOwnText()
{
    return QStringLiteral("ほかのユーザーのファイルか、ほかのユーザーも書き込めるファイルです。");
}

OpResult openRegularFile(const QString &path, QFile &file)
{
    // Pipes and devices are refused before they are opened (opening some devices does
    // something); O_NONBLOCK covers the ones that turn up in between.
    const QByteArray bytes = FileNames::encode(path);
    struct stat before
    {
    };
    if (::stat(bytes.constData(), &before) == 0 && !S_ISREG(before.st_mode))
        return OpResult::failure(
            S_ISDIR(before.st_mode) ? systemErrorText(EISDIR) : notARegularFileText(), path);
    const int fd = ::open(bytes.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
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
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return OpResult::failure(systemErrorText(EIO), path);
    }
    return OpResult::success();
}
