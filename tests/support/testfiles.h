#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <ftw.h>
#include <memory>
#include <sys/stat.h>
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

/// A folder on another file system than `here` (in /dev/shm, a memory drive), for moves across
/// drives; null where there is none.
inline std::unique_ptr<QTemporaryDir> folderOnAnotherDrive(const QString &here)
{
    auto other = std::make_unique<QTemporaryDir>(QStringLiteral("/dev/shm/kaenami-test-XXXXXX"));
    struct stat a
    {
    }, b{};
    if (!other->isValid() || ::stat(QFile::encodeName(here).constData(), &a) != 0 ||
        ::stat(QFile::encodeName(other->path()).constData(), &b) != 0 || a.st_dev == b.st_dev)
        return nullptr;
    return other;
}

} // namespace TestFiles
