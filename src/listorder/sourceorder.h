#pragma once

#include "fileoperations.h"

#include <QString>
#include <QStringList>

#include <optional>

/// The orders the source file list can be shown in; a batch walks the list in the order shown.
enum class ListOrder
{
    Name,     ///< natural order of the names (NaturalOrder)
    Taken,    ///< date taken (EXIF), else modification time
    Modified, ///< modification time
};

namespace SourceOrder {

/// The moment `path` sorts by in `order` (Taken or Modified), in nanoseconds since the epoch;
/// nothing when the file cannot be looked at. For Taken only the file's header is read.
std::optional<qint64> momentOf(FileOperations &files, const QString &path, ListOrder order);

/// Puts `names`, files of `folder` already in natural order, into `order`. The sort is stable:
/// files of one moment keep their name order, and files that cannot be looked at come last.
void sort(FileOperations &files, const QString &folder, ListOrder order, QStringList &names);

} // namespace SourceOrder
