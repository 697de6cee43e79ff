#include "fileoperations.h"

#include "folderlisting.h"
#include "paths.h"

OpResult FileOperations::openParent(const QString &path, OpenFolder &folder, QString &name)
{
    if (path == QLatin1String("/")) {
        name.clear();
        return openFolder(path, folder);
    }
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    name = path.mid(slash + 1);
    if (slash < 0)
        return openFolder(QStringLiteral("."), folder);
    return openFolder(slash == 0 ? QStringLiteral("/") : path.left(slash), folder);
}

OpResult FileOperations::copyFile(const QString &source, const QString &destination,
                                  const WriteOptions &options, WriteReport *report)
{
    OpenFolder from, to;
    QString fromName, toName;
    if (OpResult opened = openParent(source, from, fromName); !opened)
        return opened;
    if (OpResult opened = openParent(destination, to, toName); !opened)
        return opened;
    return copyFile(from, fromName, to, toName, options, report);
}

OpResult FileOperations::moveFile(const QString &source, const QString &destination,
                                  const WriteOptions &options, WriteReport *report)
{
    OpenFolder from, to;
    QString fromName, toName;
    if (OpResult opened = openParent(source, from, fromName); !opened)
        return opened;
    if (OpResult opened = openParent(destination, to, toName); !opened)
        return opened;
    return moveFile(from, fromName, to, toName, options, report);
}

OpResult FileOperations::removeFile(const QString &path)
{
    OpenFolder folder;
    QString name;
    if (OpResult opened = openParent(path, folder, name); !opened)
        return opened;
    return removeFile(folder, name);
}

OpResult FileOperations::setAside(const QString &source, const QString &keptPath)
{
    OpenFolder from, to;
    QString fromName, toName;
    if (OpResult opened = openParent(source, from, fromName); !opened)
        return opened;
    if (OpResult opened = openParent(keptPath, to, toName); !opened)
        return opened;
    return setAside(from, fromName, to, toName);
}

OpResult FileOperations::renameNoReplace(const QString &from, const QString &to)
{
    OpenFolder fromFolder, toFolder;
    QString fromName, toName;
    if (OpResult opened = openParent(from, fromFolder, fromName); !opened)
        return opened;
    if (OpResult opened = openParent(to, toFolder, toName); !opened)
        return opened;
    return renameNoReplace(fromFolder, fromName, toFolder, toName);
}

OpResult FileOperations::restoreFromTrash(const QString &trashedFile, const QString &destination)
{
    OpenFolder folder;
    QString name;
    if (OpResult opened = openParent(destination, folder, name); !opened)
        return opened;
    return restoreFromTrash(trashedFile, folder, name);
}

OpResult FileOperations::makeSymbolicLink(const QString &target, const QString &path)
{
    OpenFolder folder;
    QString name;
    if (OpResult opened = openParent(path, folder, name); !opened)
        return opened;
    return makeSymbolicLink(target, folder, name);
}

OpResult FileOperations::makeHardLink(const QString &existing, const QString &path)
{
    OpenFolder from, to;
    QString fromName, toName;
    if (OpResult opened = openParent(existing, from, fromName); !opened)
        return opened;
    if (OpResult opened = openParent(path, to, toName); !opened)
        return opened;
    return makeHardLink(from, fromName, to, toName);
}

FileStatus FileOperations::status(const QString &path, bool followLinks)
{
    OpenFolder folder;
    QString name;
    if (OpResult opened = openParent(path, folder, name); !opened) {
        FileStatus missing;
        missing.error = opened.systemError ? opened.systemError : ENOENT;
        return missing;
    }
    return status(folder, name, followLinks);
}

QString FileOperations::linkText(const QString &path)
{
    OpenFolder folder;
    QString name;
    if (!openParent(path, folder, name))
        return {};
    return linkText(folder, name);
}

bool FileOperations::isOrdinaryFile(const QString &path)
{
    return status(path, true).type == FileStatus::Type::Regular;
}

bool FileOperations::isSameFile(const QString &a, const QString &b)
{
    return status(a, true).sameFileAs(status(b, true));
}

bool FileOperations::sameContent(const QString &a, const QString &b)
{
    OpenFolder folderA, folderB;
    QString nameA, nameB;
    if (!openParent(a, folderA, nameA) || !openParent(b, folderB, nameB))
        return false;
    return sameContent(folderA, nameA, folderB, nameB);
}

bool FileOperations::writesUnnamedFiles(const QString &folder)
{
    OpenFolder opened;
    return openFolder(folder, opened) && writesUnnamedFiles(opened);
}

int FileOperations::nameMax(const QString &folder)
{
    OpenFolder opened;
    return openFolder(folder, opened) ? nameMax(opened) : 255;
}

OpResult FileOperations::listNamesStartingWith(const QString &folder, const QString &prefix,
                                               QStringList &names)
{
    names.clear();
    OpenFolder opened;
    if (OpResult result = openFolder(folder, opened); !result)
        return result;
    return listNamesStartingWith(opened, prefix, names);
}

OpResult FileOperations::listOtherEntries(const OpenFolder &folder,
                                          QHash<QString, FileStatus> &entries)
{
    entries.clear();
    FolderListing listing;
    const OpResult listed = listFolder(folder, listing);
    for (qsizetype i = 0; i < listing.size(); ++i) {
        const FileStatus status = listing.statusAt(i);
        if (status.type != FileStatus::Type::Regular)
            entries.insert(listing.nameAt(i), status);
    }
    return listed;
}
