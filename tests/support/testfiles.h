#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <ftw.h>
#include <unistd.h>

/// Small helpers for tests that work on real folders.
namespace TestFiles {

inline bool write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline bool append(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::Append) && file.write(bytes) == bytes.size();
}

inline QByteArray read(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

/// Every name in the folder, hidden ones included, sorted.
inline QStringList names(const QString &folder)
{
    QStringList list = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    std::sort(list.begin(), list.end());
    return list;
}

/// Removes a folder and everything in it by raw bytes (QDir cannot remove names that are not
/// valid UTF-8).
inline void removeTree(const QByteArray &folder)
{
    ::nftw(
        folder.constData(),
        [](const char *path, const struct stat *, int type, struct FTW *) {
            return type == FTW_DP ? ::rmdir(path) : ::unlink(path);
        },
        16, FTW_DEPTH | FTW_PHYS);
}

} // namespace TestFiles
