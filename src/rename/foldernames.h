#pragma once

#include "fileoperations.h"
#include "folderlisting.h"

#include <QHash>
#include <QString>

/// Names as a folder's file system compares them: exactly, or with letter case ignored on a
/// drive that ignores it (FAT, exFAT, folders that fold case).
namespace FolderNames {

/// The name with letter case ignored; plain ASCII names the quick way.
QString folded(const QString &name);

/// The name with its ASCII letters in other case (upper, or lower where they are all upper);
/// null for a name without ASCII letters. Other letters keep their spelling.
QString otherSpelling(const QString &name);

/// True when the folder finds its entries under other spellings of their names: one listed
/// name with ASCII letters is looked up in another spelling that the listing does not hold.
bool ignoresCase(FileOperations &files, const OpenFolder &folder,
                 const QHash<QString, FileStatus> &entries);
bool ignoresCase(FileOperations &files, const OpenFolder &folder, const FolderListing &listing);

/// A folder's listing, looked up by name as the folder compares names.
class Lookup
{
public:
    Lookup(const QHash<QString, FileStatus> &entries, bool ignoresCase)
        : m_entries(entries), m_ignoresCase(ignoresCase)
    {}

    /// The spelling the listing holds for `name`; null when nothing stands under it.
    QString spelling(const QString &name) const;

private:
    const QHash<QString, FileStatus> &m_entries;
    const bool m_ignoresCase;
    /// Folded name -> listed spelling, made at the first name the listing lacks.
    mutable QHash<QString, QString> m_folded;
    mutable bool m_foldedMade = false;
};

} // namespace FolderNames
