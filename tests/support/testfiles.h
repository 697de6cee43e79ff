#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

#include <algorithm>

/// Small helpers for tests that work on real folders.
namespace TestFiles {

inline bool write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
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

} // namespace TestFiles
