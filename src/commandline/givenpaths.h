#pragma once

#include "fileoperations.h"

#include <QString>
#include <QStringList>

/// One path handed to the program from outside (its command line, a drop), looked at.
struct GivenPath
{
    enum class Kind
    {
        Problem,
        Folder,
        File,
    };
    Kind kind = Kind::Problem;
    /// A folder as the system resolves it (links, "." and ".." followed); for a file, its folder.
    QString folder;
    /// A file's exact name in its folder, as given (a link stays the link).
    QString name;
    /// Why it cannot be used, as a message says it; empty otherwise.
    QString problem;
};

/// Looks at `path` (relative paths count from the working folder): it must be a folder that
/// can be listed or an ordinary file that can be read, and a file must not be hidden (the
/// lists leave hidden files out).
GivenPath lookAtGivenPath(FileOperations &files, const QString &path);

/// What a list of paths opens in the panes.
struct PathsToOpen
{
    QString sourceFolder;    ///< empty for none
    QStringList sourceFiles; ///< exact names in sourceFolder to select, in the order given
    QString targetFolder;    ///< empty for none
    /// The message naming the problem; then nothing is opened.
    QString problem;
};

/// Where the paths are handed in, which decides what they may be.
enum class PathsFor
{
    /// `kaenami [PATH...]`, read as cp reads its arguments: one folder (the source), two folders
    /// (source and target), or files of one folder (the source, those files selected) with
    /// perhaps one folder after them (the target).
    Window,
    /// A drop on the source pane: one folder, or files of one folder.
    SourcePane,
    /// A drop on the target pane: one folder.
    TargetPane,
};

PathsToOpen pathsToOpen(FileOperations &files, const QStringList &paths, PathsFor use);

/// The messages of paths that cannot be used.
namespace GivenPathMessages {
QString cannotOpen(const QString &path, const QString &reason);
QString neitherFileNorFolder(const QString &path);
QString hidden(const QString &path);
QString severalFolders(const QString &one, const QString &other);
QString arrangement(PathsFor use);
} // namespace GivenPathMessages
