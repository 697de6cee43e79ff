#pragma once

#include "opresult.h"

#include <QByteArray>
#include <QString>

/// The user's trash laid out the way desktop file managers read it: the home trash under
/// $XDG_DATA_HOME, and a trash at the top folder of every other volume. Entries go in as hard
/// links, or as full copies where a drive refuses links. The environment is read anew on every
/// call. Paths are in the file-name encoding of FileNames.
namespace Trash {

/// The home trash folder: $XDG_DATA_HOME/Trash, else $HOME/.local/share/Trash.
QString homeFolder();

/// The trash folder (holding files/ and info/) that keeps entries of the volume the existing
/// entry `path` lies on, made where missing: the home trash for the home trash's own device,
/// else $topdir/.Trash/$uid or $topdir/.Trash-$uid. Fails where that volume has no usable trash.
OpResult folderFor(const QString &path, QString &folder);

/// Links the entry `path` (a symbolic link itself, never what it points to) into its trash, its
/// trash information written first; where links are refused, a synced full copy goes in. `path`
/// stays as it was; `trashedAs` becomes the entry's path under the trash's files/.
/// `trashFound`, when given, tells whether the volume has (or could have) a usable trash, so
/// that a failure to keep the entry in it (a full disk, even before its trash is made; an
/// unreadable file) can be told from having none.
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
