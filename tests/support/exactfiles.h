#pragma once

// Files handled by their exact name bytes, for tests of the layer that keeps them.

#include "filenames.h"

#include <QByteArray>
#include <QString>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ExactFiles {

/// The path as the system gets it.
inline QByteArray sys(const QString &path)
{
    return FileNames::encode(path);
}

inline bool lstatOf(const QString &path, struct stat &st)
{
    return ::lstat(sys(path).constData(), &st) == 0;
}

inline bool exists(const QString &path)
{
    struct stat st
    {
    };
    return lstatOf(path, st);
}

/// Reads through the exact bytes of the name (QFile would not keep them).
inline QByteArray readExact(const QString &path)
{
    const int fd = ::open(sys(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return "<missing>";
    QByteArray bytes;
    char buffer[4096];
    for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;)
        bytes.append(buffer, got);
    ::close(fd);
    return bytes;
}

inline bool writeExact(const QString &path, const QByteArray &bytes)
{
    const int fd = ::open(sys(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    return ::close(fd) == 0 && written;
}

} // namespace ExactFiles
