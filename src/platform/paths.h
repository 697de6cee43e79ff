#pragma once

#include <QString>

namespace Paths {

/// Joins a file name to a folder path, adding "/" unless the folder already ends in one.
inline QString join(const QString &folder, const QString &name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

/// The folder part of a full path ("/" for a file in the root).
inline QString folderOf(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

} // namespace Paths
