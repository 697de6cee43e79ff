#pragma once

#include "openfolder.h"
#include "opresult.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>
#include <limits>

/// What one directory entry is, as far as a batch needs to know.
struct FileStatus
{
    enum class Type
    {
        Missing,
        Regular,
        Directory,
        SymbolicLink, ///< only when links are not followed
        Other         ///< pipes, sockets, devices
    };
    Type type = Type::Missing;
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 modifiedNs = 0; ///< modification time, nanoseconds since the epoch
    quint64 links = 0;
    int error = 0; ///< why a status could not be taken (errno), 0 when it could

    bool exists() const { return type != Type::Missing; }
    /// Both are the same file on the same device (hard links and spellings of one name alike).
    bool sameFileAs(const FileStatus &other) const
    {
        return exists() && other.exists() && device == other.device && inode == other.inode;
    }
};

class FolderListing;
class TemporaryNames;

/// How a file comes back from the trash.
struct RestoreOptions
{
    /// The file the trash must still hold (identity, size and time); any other is left there.
    /// Missing: whatever is there.
    FileStatus expected;
    /// Names for a temporary where the file goes back to another drive as a copy.
    TemporaryNames *temporaries = nullptr;
};

/// Hands out hidden names for temporaries in one folder, made only when one is used.
class TemporaryNames
{
public:
    virtual ~TemporaryNames() = default;
    /// A hidden name that no entry of the folder has yet.
    virtual QString next() = 0;
};

/// How a new or replacing file is written.
struct WriteOptions
{
    WriteOptions(TemporaryNames *temporaries = nullptr, bool sync = false,
                 bool trashReplaced = false, FileStatus notToTrash = {})
        : temporaries(temporaries), sync(sync), trashReplaced(trashReplaced), notToTrash(notToTrash)
    {}
    /// With one given name for the temporary (its last part, should it be a path).
    WriteOptions(const QString &temporary, bool sync = false, bool trashReplaced = false,
                 FileStatus notToTrash = {})
        : temporary(temporary.mid(temporary.lastIndexOf(QLatin1Char('/')) + 1)), sync(sync),
          trashReplaced(trashReplaced), notToTrash(notToTrash)
    {}

    /// Names for the temporary in the destination's folder, used where the content cannot be
    /// written as an unnamed file first, and for every replacement; gone again afterwards. A
    /// random hidden name when none are given.
    TemporaryNames *temporaries = nullptr;
    /// The one name for the temporary where no `temporaries` are given.
    QString temporary;
    /// Synced to disk before it gets its name (a move across file systems needs that before it
    /// deletes the source).
    bool sync = false;
    /// An existing destination that gets replaced is first kept in the user's trash (the
    /// freedesktop.org trash of its volume, with its .trashinfo), so it can be restored; the
    /// destination's name is never missing meanwhile. Where no usable trash exists, the
    /// replace goes ahead and the report says so.
    bool trashReplaced = false;
    /// With trashReplaced: the one entry that may be replaced without being kept (a source
    /// whose content goes on under a new name). Whatever else stands under the name when it is
    /// replaced goes to the trash.
    FileStatus notToTrash;
    /// The destination was seen to exist just before: the way of a replace is taken at once.
    /// Only a hint; what stands there is looked at again in any case.
    bool destinationExists = false;
    /// The source was just seen as a regular file, not a link (in a listing): it is opened
    /// without following links and without a look first.
    bool sourceSeenRegular = false;
};

/// What a copy or move did to its destination.
struct WriteReport
{
    /// The destination existed and was replaced.
    bool replaced = false;
    /// A move: the destination already was the source's file (a hard link, a symbolic link's
    /// target or the same name spelt in another case), so only the source's name was removed.
    bool alreadyThere = false;
    /// A move: the content was copied and the source removed (across file systems, or a
    /// symbolic link read as the file it points to), rather than renamed.
    bool copied = false;
    /// The destination as written (for a later undo to recognise it).
    FileStatus written;
    /// With trashReplaced: where the replaced file now lies in the trash (under files/);
    /// empty when nothing was replaced or it could not be kept.
    QString trashedAs;
    /// The replaced file as the trash keeps it (for an undo to recognise it there).
    FileStatus trashed;
    /// With trashReplaced: a file was replaced that no usable trash could keep.
    bool replacedNotKept = false;
    /// A copying move left its source in place: it had become the destination itself (one
    /// folder seen through two mounts).
    bool sourceKept = false;
    /// A copying move left its source in place: it was written to while it was copied, so the
    /// copy does not hold all of it.
    bool sourceChanged = false;
    /// A copying move wrote its destination, but its source could not be removed: the errno
    /// (the source stays; sourceKept is set).
    int sourceNotRemoved = 0;
};

/// File operations. Entries are named by an open folder and a bare name, so that whatever
/// happens to a folder's path meanwhile, an operation reaches the folder that was opened; the
/// forms that take full paths open the folder for the one call. Names and paths are QStrings in
/// the file-name encoding of FileNames (exact bytes survive).
class FileOperations
{
public:
    virtual ~FileOperations() = default;

    /// Called now and then during a long copy (at least every 16 MiB), so that the window can
    /// keep answering the desktop; empty for none.
    virtual void setBusyHandler(std::function<void()> handler) = 0;

    /// Opens the folder `path` (links followed) for operations on its entries.
    virtual OpResult openFolder(const QString &path, OpenFolder &folder) = 0;

    /// Writes the content of the file the entry `source` resolves to (links are followed; it
    /// must be a regular file, opened without blocking) under `destination`, with its
    /// modification time and permission bits. The destination appears only complete. A new
    /// destination never replaces anything; an existing regular file or symbolic link is
    /// replaced as an entry through a temporary and one rename, unless the user may not write
    /// it (EACCES, as cp). Anything else at the destination is refused.
    virtual OpResult copyFile(const OpenFolder &sourceFolder, const QString &source,
                              const OpenFolder &destinationFolder, const QString &destination,
                              const WriteOptions &options, WriteReport *report = nullptr) = 0;
    /// Moves the entry `source` to `destination`: a rename within one file system, else a
    /// synced copy and then the removal of the source. A symbolic-link source is read as the
    /// file it points to: the destination becomes a regular file and only the link goes. When
    /// the destination already is the source's file, the file stays and only the other name
    /// goes. Replacing follows the rules of copyFile.
    virtual OpResult moveFile(const OpenFolder &sourceFolder, const QString &source,
                              const OpenFolder &destinationFolder, const QString &destination,
                              const WriteOptions &options, WriteReport *report = nullptr) = 0;
    /// Removes one directory entry (a link itself, never what it points to).
    virtual OpResult removeFile(const OpenFolder &folder, const QString &name) = 0;
    /// Keeps the current content of the file the entry `source` resolves to under the unused
    /// name `kept` (a hard link, or a full copy where links cannot be made), leaving `source`
    /// untouched.
    virtual OpResult setAside(const OpenFolder &sourceFolder, const QString &source,
                              const OpenFolder &keptFolder, const QString &kept) = 0;
    /// Renames `from` to `to` only when `to` does not exist yet (EEXIST otherwise).
    virtual OpResult renameNoReplace(const OpenFolder &fromFolder, const QString &from,
                                     const OpenFolder &toFolder, const QString &to) = 0;
    /// Puts a file the trash keeps (`trashedFile`, a full path under the trash's files/) back
    /// under `destination` without replacing anything, and removes its trash information.
    virtual OpResult restoreFromTrash(const QString &trashedFile, const OpenFolder &folder,
                                      const QString &destination,
                                      const RestoreOptions &options = {}) = 0;
    /// Makes the entry `name` a symbolic link with the text `target` (never replacing).
    virtual OpResult makeSymbolicLink(const QString &target, const OpenFolder &folder,
                                      const QString &name) = 0;
    /// Makes `name` another name of the file `existing` (never replacing anything).
    virtual OpResult makeHardLink(const OpenFolder &existingFolder, const QString &existing,
                                  const OpenFolder &folder, const QString &name) = 0;

    /// The entry `name` (the folder itself for an empty name).
    virtual FileStatus status(const OpenFolder &folder, const QString &name, bool followLinks) = 0;
    /// The text of the symbolic link `name`; empty when it is none.
    virtual QString linkText(const OpenFolder &folder, const QString &name) = 0;
    /// True when both are regular files with the same bytes.
    virtual bool sameContent(const OpenFolder &folderA, const QString &a, const OpenFolder &folderB,
                             const QString &b) = 0;
    /// True when new files in `folder` are written unnamed and linked in, never under a
    /// temporary name (the file system takes O_TMPFILE).
    virtual bool writesUnnamedFiles(const OpenFolder &folder) = 0;
    /// The longest file name, in bytes, the folder's file system takes.
    virtual int nameMax(const OpenFolder &folder) = 0;
    /// Files on the folder's drive keep their device and inode numbers from one mounting to
    /// the next; FAT and exFAT drives and FUSE file systems may number them anew each time.
    virtual bool keepsFileIdentities(const OpenFolder &folder) = 0;
    /// The path that names the open folder now: the one it was opened under while that still
    /// leads to it, else where it has been moved to (as far as the system can tell).
    virtual QString currentPath(const OpenFolder &folder) = 0;
    /// The trash folder that keeps replaced entries of `folder` (opened once and then used by
    /// every replace there while the folder is held); empty when it has none.
    virtual QString trashFolderFor(const OpenFolder &folder) = 0;

    /// Every name in `folder` (hidden ones too) with its type and identity as a directory
    /// entry, as one reading of the folder gives them.
    virtual OpResult listFolder(const OpenFolder &folder, FolderListing &listing) = 0;
    /// The entries of `folder` that are no regular file (folders, links, pipes and devices,
    /// hidden ones too); regular files are passed over without their names decoded.
    virtual OpResult listOtherEntries(const OpenFolder &folder,
                                      QHash<QString, FileStatus> &entries);
    /// Every name in `folder` that starts with `prefix`, hidden ones included, unsorted.
    virtual OpResult listNamesStartingWith(const OpenFolder &folder, const QString &prefix,
                                           QStringList &names) = 0;

    /// Names of the ordinary, not hidden files in `folder` (links to ordinary files count),
    /// unsorted.
    virtual OpResult listFiles(const QString &folder, QStringList &names) = 0;

    /// Reads a whole regular file without ever blocking on a pipe or device.
    virtual OpResult readFile(const QString &path, QByteArray &bytes) = 0;
    /// Reads at most `maxBytes` from the start of a regular file, the same way.
    virtual OpResult readFileStart(const QString &path, qint64 maxBytes, QByteArray &bytes) = 0;
    /// Replaces the file at `path` as a whole: on failure the previous file stays intact and
    /// the system's own reason is returned.
    /// `onlyForTheUser` makes a new file readable by the user only.
    virtual OpResult writeFileAtomically(const QString &path, const QByteArray &bytes,
                                         bool onlyForTheUser = false) = 0;

    /// Writes a batch journal whole and synced, and holds it locked (so no other run takes it
    /// for an abandoned one) until finishJournal.
    virtual OpResult writeJournal(const QString &path, const QByteArray &bytes) = 0;
    /// Removes a journal written or claimed by this process and releases its lock.
    virtual OpResult finishJournal(const QString &path) = 0;
    /// Releases the lock of a journal written or claimed by this process, leaving it in place
    /// for a later start to take up.
    virtual void releaseJournal(const QString &path) = 0;
    /// Reads and locks a journal left by an earlier run, at most `sizeLimit` bytes of it.
    /// Fails with EWOULDBLOCK while a running batch still holds it, and with EFBIG when it is
    /// longer (still holding it, with `bytes` its first 64 KiB at most).
    virtual OpResult claimJournal(const QString &path, QByteArray &bytes,
                                  qint64 sizeLimit = std::numeric_limits<qint64>::max()) = 0;

    /// Locks the program's shared file `path` (the undo history, changed by several runs at
    /// once) for this process, waiting while another run holds it. Only a regular file of this
    /// user's own that no one else may write is taken (on drives that keep no permissions, the
    /// owner's file), opened without following links; anything else is refused with the reason.
    /// After locking, the name is checked to still be the locked file. A missing file is made
    /// (empty, for the user only) when `create` is set; otherwise nothing is locked. `locked`
    /// is the file as locked, Missing when there is none.
    virtual OpResult lockSharedFile(const QString &path, bool create, FileStatus &locked) = 0;
    /// Reads the file locked under `path` from its start, at most `maxBytes`.
    virtual OpResult readLockedFile(const QString &path, qint64 maxBytes, QByteArray &bytes) = 0;
    /// Replaces the file locked under `path` as a whole, for the user's eyes only: written under
    /// `temporary` (a fixed name beside it; whatever a killed run left there goes first) and
    /// renamed over it. On failure the file stays as it was.
    virtual OpResult replaceLockedFile(const QString &path, const QByteArray &bytes,
                                       const QString &temporary) = 0;
    virtual void unlockSharedFile(const QString &path) = 0;

    // The same on full paths: the folder part is opened for the one call.
    OpResult copyFile(const QString &source, const QString &destination,
                      const WriteOptions &options, WriteReport *report = nullptr);
    OpResult moveFile(const QString &source, const QString &destination,
                      const WriteOptions &options, WriteReport *report = nullptr);
    OpResult removeFile(const QString &path);
    OpResult setAside(const QString &source, const QString &keptPath);
    OpResult renameNoReplace(const QString &from, const QString &to);
    OpResult restoreFromTrash(const QString &trashedFile, const QString &destination);
    OpResult makeSymbolicLink(const QString &target, const QString &path);
    OpResult makeHardLink(const QString &existing, const QString &path);
    FileStatus status(const QString &path, bool followLinks);
    QString linkText(const QString &path);
    /// True when `path` names an existing ordinary file (links are followed).
    bool isOrdinaryFile(const QString &path);
    /// True when both paths name one existing file or folder (links are followed).
    bool isSameFile(const QString &a, const QString &b);
    bool sameContent(const QString &a, const QString &b);
    bool writesUnnamedFiles(const QString &folder);
    int nameMax(const QString &folder);
    OpResult listNamesStartingWith(const QString &folder, const QString &prefix,
                                   QStringList &names);

private:
    /// Opens the folder part of `path`; `name` becomes its last part.
    OpResult openParent(const QString &path, OpenFolder &folder, QString &name);
};

/// Brings the path forms of FileOperations into a class that overrides some of the entry forms
/// (which would hide them otherwise).
#define KAENAMI_PATH_FORMS(Base)                                                                   \
    using Base::copyFile;                                                                          \
    using Base::moveFile;                                                                          \
    using Base::removeFile;                                                                        \
    using Base::setAside;                                                                          \
    using Base::renameNoReplace;                                                                   \
    using Base::restoreFromTrash;                                                                  \
    using Base::makeSymbolicLink;                                                                  \
    using Base::makeHardLink;                                                                      \
    using Base::status;                                                                            \
    using Base::linkText;                                                                          \
    using Base::sameContent;                                                                       \
    using Base::writesUnnamedFiles;                                                                \
    using Base::nameMax;                                                                           \
    using Base::listNamesStartingWith
