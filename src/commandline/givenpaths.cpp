#include "givenpaths.h"

#include "filenames.h"
#include "paths.h"
#include "systempaths.h"

#include <QSet>

#include <cerrno>

GivenPath lookAtGivenPath(FileOperations &files, const QString &path)
{
    GivenPath looked;
    const auto fail = [&](const QString &problem) {
        looked.kind = GivenPath::Kind::Problem;
        looked.problem = problem;
        return looked;
    };
    if (path.isEmpty())
        return fail(GivenPathMessages::cannotOpen(path, systemErrorText(ENOENT)));
    QString absolute = path;
    if (!absolute.startsWith(QLatin1Char('/')))
        absolute = Paths::join(SystemPaths::workingFolder(), path);
    // "photos/" names a folder whatever it is: the system resolves all of it.
    const bool folderOnly = absolute.endsWith(QLatin1Char('/'));
    while (absolute.size() > 1 && absolute.endsWith(QLatin1Char('/')))
        absolute.chop(1);
    const QString name = absolute.mid(absolute.lastIndexOf(QLatin1Char('/')) + 1);
    const bool wholePath =
        folderOnly || name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..");

    QString folder;
    if (const OpResult resolved =
            SystemPaths::resolve(wholePath ? absolute : Paths::folderOf(absolute), folder);
        !resolved)
        return fail(GivenPathMessages::cannotOpen(path, resolved.error));
    if (!wholePath) {
        const QString full = Paths::join(folder, name);
        const FileStatus status = files.status(full, true);
        switch (status.type) {
        case FileStatus::Type::Missing:
            return fail(GivenPathMessages::cannotOpen(
                path, systemErrorText(status.error ? status.error : ENOENT)));
        case FileStatus::Type::Regular: {
            if (name.startsWith(QLatin1Char('.')))
                return fail(GivenPathMessages::hidden(path));
            QByteArray nothing;
            if (const OpResult readable = files.readFileStart(full, 0, nothing); !readable)
                return fail(GivenPathMessages::cannotOpen(path, readable.error));
            looked.kind = GivenPath::Kind::File;
            looked.folder = folder;
            looked.name = name;
            return looked;
        }
        case FileStatus::Type::Directory:
            // A link to a folder opens the folder it leads to.
            if (const OpResult resolved = SystemPaths::resolve(full, folder); !resolved)
                return fail(GivenPathMessages::cannotOpen(path, resolved.error));
            break;
        case FileStatus::Type::SymbolicLink:
        case FileStatus::Type::Other:
            return fail(GivenPathMessages::neitherFileNorFolder(path));
        }
    }
    // Opening it as a folder also refuses a file named as one ("a.jpg/").
    OpenFolder opened;
    if (const OpResult readable = files.openFolder(folder, opened); !readable)
        return fail(GivenPathMessages::cannotOpen(path, readable.error));
    looked.kind = GivenPath::Kind::Folder;
    looked.folder = folder;
    return looked;
}

PathsToOpen pathsToOpen(FileOperations &files, const QStringList &paths, PathsFor use)
{
    PathsToOpen open;
    std::vector<GivenPath> looked;
    looked.reserve(size_t(paths.size()));
    for (const QString &path : paths) {
        looked.push_back(lookAtGivenPath(files, path));
        if (looked.back().kind == GivenPath::Kind::Problem) {
            open.problem = looked.back().problem;
            return open;
        }
    }
    // Files first, all of one folder; then at most the folders the use allows.
    size_t fileCount = 0;
    while (fileCount < looked.size() && looked[fileCount].kind == GivenPath::Kind::File)
        ++fileCount;
    const size_t folderCount = looked.size() - fileCount;
    const bool foldersOnly =
        std::all_of(looked.begin() + qsizetype(fileCount), looked.end(),
                    [](const GivenPath &path) { return path.kind == GivenPath::Kind::Folder; });
    bool fits = foldersOnly && !looked.empty();
    switch (use) {
    case PathsFor::Window:
        fits = fits && (fileCount > 0 ? folderCount <= 1 : folderCount <= 2);
        break;
    case PathsFor::SourcePane:
        fits = fits && (fileCount > 0 ? folderCount == 0 : folderCount == 1);
        break;
    case PathsFor::TargetPane:
        fits = fits && fileCount == 0 && folderCount == 1;
        break;
    }
    if (!fits) {
        open.problem = GivenPathMessages::arrangement(use);
        return open;
    }
    QSet<QString> named;
    for (size_t i = 0; i < fileCount; ++i) {
        const GivenPath &file = looked[i];
        if (file.folder != looked.front().folder)
            return {
                {}, {}, {}, GivenPathMessages::severalFolders(looked.front().folder, file.folder)};
        // The same file named twice is selected once.
        if (!named.contains(file.name)) {
            named.insert(file.name);
            open.sourceFiles.append(file.name);
        }
    }
    if (fileCount > 0) {
        open.sourceFolder = looked.front().folder;
        if (folderCount == 1)
            open.targetFolder = looked.back().folder;
    } else if (use == PathsFor::TargetPane) {
        open.targetFolder = looked.front().folder;
    } else {
        open.sourceFolder = looked.front().folder;
        if (folderCount == 2)
            open.targetFolder = looked.back().folder;
    }
    return open;
}

namespace GivenPathMessages {

QString cannotOpen(const QString &path, const QString &reason)
{
    return QStringLiteral("「%1」を開けません。\r\n理由: %2").arg(FileNames::display(path), reason);
}

QString neitherFileNorFolder(const QString &path)
{
    return QStringLiteral("「%1」はファイルでもフォルダーでもないため、開けません。")
        .arg(FileNames::display(path));
}

QString hidden(const QString &path)
{
    return QStringLiteral(
               "「%1」は隠しファイル（名前が「.」で始まる）のため、一覧に表示できません。")
        .arg(FileNames::display(path));
}

QString severalFolders(const QString &one, const QString &other)
{
    return QStringLiteral("指定されたファイルが一つのフォルダーにありません。\r\n%1\r\n%2")
        .arg(FileNames::display(one), FileNames::display(other));
}

QString arrangement(PathsFor use)
{
    switch (use) {
    case PathsFor::Window:
        break;
    case PathsFor::SourcePane:
        return QStringLiteral("元のフォルダーの側に置けるのは、フォルダー一つか、"
                              "一つのフォルダーのファイルです。");
    case PathsFor::TargetPane:
        return QStringLiteral("コピー先のフォルダーの側に置けるのは、フォルダー一つです。");
    }
    return QStringLiteral("指定されたファイルとフォルダーの組み合わせでは開けません。\r\n"
                          "開けるのは、フォルダー一つ（元のフォルダー）か二つ（元とコピー先）、"
                          "または一つのフォルダーのファイルです（そのあとにコピー先のフォルダーを"
                          "一つ添えられます）。");
}

} // namespace GivenPathMessages
