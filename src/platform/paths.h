#pragma once

#include <QString>

namespace Paths {

/// Joins a file name to a folder path, adding "/" unless the folder already ends in one.
inline QString join(const QString &folder, const QString &name)
{
    // One allocation: joined for every file of a batch.
    const bool slash = folder.endsWith(QLatin1Char('/'));
    QString path;
    path.reserve(folder.size() + name.size() + 1);
    path.append(folder);
    if (!slash)
        path.append(QLatin1Char('/'));
    path.append(name);
    return path;
}

/// The folder part of a full path ("/" for a file in the root).
inline QString folderOf(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

} // namespace Paths
