#pragma once

#include "opresult.h"
#include "systemcalls.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <ctime>
#include <sys/stat.h>

/// The user's trash laid out the way desktop file managers read it: the home trash under
/// $XDG_DATA_HOME, and a trash at the top folder of every other volume. Entries go in as hard
/// links, or as full copies where a drive refuses links or its own trash cannot be used. Paths
/// are in the file-name encoding of FileNames.
namespace Trash {

/// The home trash folder: $XDG_DATA_HOME/Trash, else $HOME/.local/share/Trash.
QString homeFolder();

/// `folder` is a trash this user's batches use: the home trash, or .Trash-<uid> or
/// .Trash/<uid> at the top folder of a drive.
bool isUsersTrash(const QString &folder);

/// The spelling of the entry kept as `trashName` (under files/) that replaced `name`, where the
/// two differ only in letter case (a drive that ignores it) once the ".N" a taken trash name
/// gets is taken off; otherwise `name`.
QString spellingBefore(const QString &trashName, const QString &name);

/// The trash that keeps replaced entries of one folder, opened and checked once and then used
/// for every entry: its files/ and info/ are held open, so nothing swapped in under their names
/// later redirects what goes in.
class Bin
{
public:
    Bin() = default;
    Bin(const Bin &) = delete;
    Bin &operator=(const Bin &) = delete;

    /// Opens the trash for the entries of the folder `folder` (a descriptor), known as `path`:
    /// the home trash on the home trash's own device; elsewhere $topdir/.Trash/$uid (sticky, not
    /// a link) or $topdir/.Trash-$uid (the user's own), made where missing; where the drive's
    /// own trash cannot be used, the home trash, which then keeps copies. Returns 0 or the errno.
    int open(int folder, const QByteArray &path);
    bool isOpen() const { return m_files.valid(); }
    /// After a failed open: the volume has, or could have, a usable trash; only the drive or
    /// the process is short of something now (a full disk even before the trash is made).
    bool found() const { return m_found; }
    /// The trash folder (holding files/ and info/).
    const QByteArray &folder() const { return m_folder; }
    /// The trash keeps copies rather than links.
    bool keepsCopies() const { return m_copies; }

    /// Keeps the entry `name` of the folder (a symbolic link itself, never what it points to;
    /// `entry` is its status) with its trash information, under the spelling the folder lists
    /// (on a drive that ignores case `name` may be another). A link is a second name of the file;
    /// a copy is complete and synced before it gets its name in files/, written unnamed or
    /// under the hidden name `temporary` where the drive takes no unnamed files. `trashedAs`
    /// becomes the entry's path under files/. Returns 0 or the errno.
    int keep(int folder, const QByteArray &name, const struct stat &entry,
             const QByteArray &temporary, QByteArray &trashedAs);

private:
    int openAt(int folder, const QByteArray &path);
    int copyIn(int folder, const QByteArray &name, const QByteArray &listed,
               const struct stat &entry, const QByteArray &temporary, const QByteArray &info,
               QByteArray &trashedAs);
    QByteArray infoFor(const QByteArray &name);
    /// What the Path of trash information holds before a name for entries of `resolved`.
    QByteArray recordedFolder(const QByteArray &resolved) const;
    /// Follows the folder to its name now.
    void followFolder(int folder);
    /// The spelling the folder lists for its entry `name`: on a drive that ignores letter case
    /// the caller's name may be another spelling of it.
    QByteArray listedSpelling(int folder, const QByteArray &name);

    QByteArray m_folder;
    SystemCalls::FileDescriptor m_files;
    SystemCalls::FileDescriptor m_info;
    /// What the Path of trash information holds before an entry's name ("" or ending in "/").
    QByteArray m_recordedFolder;
    QByteArray m_resolved; ///< the folder's path when m_recordedFolder was made
    QByteArray m_top;      ///< the volume's top folder for its own trash; empty for the home trash
    bool m_copies = false;
    bool m_found = false;
    std::time_t m_dateSecond = -1;
    QByteArray m_date;
    int m_foldsCase = -1; ///< the folder's drive ignores letter case: -1 not known yet
    QHash<QString, QByteArray> m_spellings; ///< by folded name, where it does
};

/// The trash folder that keeps entries of the folder holding `path`; fails where there is none.
OpResult folderFor(const QString &path, QString &folder);

/// Keeps the entry `path` in its trash, as Bin::keep does. `trashFound`, when given, tells
/// whether the volume has (or could have) a usable trash, so that a failure to keep the entry
/// in it (a full disk, an unreadable file) can be told from having none.
OpResult keep(const QString &path, QString &trashedAs, bool *trashFound = nullptr);

/// Takes an entry made by keep() out of the trash again, with its information.
OpResult discard(const QString &trashedAs);

/// The trash information file of `trashedFile` (a path under a trash's files/); empty when the
/// path does not lie in a files/ folder.
QString infoFileOf(const QString &trashedFile);

/// Removes the trash information of `trashedFile` once the file has left the trash.
OpResult forget(const QString &trashedFile);

/// The Path value of trash information for the path bytes `path`: every byte but unreserved
/// characters and "/" escaped as in URLs.
QByteArray encodedPath(const QByteArray &path);

} // namespace Trash
