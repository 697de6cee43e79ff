#include "trash.h"

#include "filecopy.h"
#include "filenames.h"

#include <QList>
#include <QRandomGenerator>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

namespace Trash {

namespace {

using Descriptor = SystemCalls::FileDescriptor;
using SystemCalls::failureOf;
using SystemCalls::fileNameOf;
using SystemCalls::folderOf;

QByteArray join(const QByteArray &folder, const QByteArray &name)
{
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

/// An absolute path without empty, "." or ".." parts, so that the trash names it keeps (and
/// the undo reads back) are plain paths.
QByteArray plainPath(const QByteArray &path)
{
    QList<QByteArray> parts;
    for (const QByteArray &part : path.split('/')) {
        if (part == "..") {
            if (!parts.isEmpty())
                parts.removeLast();
        } else if (!part.isEmpty() && part != ".") {
            parts.append(part);
        }
    }
    return '/' + parts.join('/');
}

/// $XDG_DATA_HOME, else $HOME/.local/share; a relative value counts as unset, as the XDG base
/// directories say.
QByteArray dataHome()
{
    const QByteArray data = qgetenv("XDG_DATA_HOME");
    if (data.startsWith('/'))
        return plainPath(data);
    QByteArray home = qgetenv("HOME");
    if (!home.startsWith('/')) {
        struct passwd entry
        {
        };
        struct passwd *found = nullptr;
        char buffer[4096];
        if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) != 0 || !found ||
            !found->pw_dir || found->pw_dir[0] != '/')
            return {};
        home = found->pw_dir;
    }
    return join(plainPath(home), ".local/share");
}

/// The device the home trash lies on, or would be made on.
bool homeTrashDevice(const QByteArray &trash, dev_t &device)
{
    struct stat st
    {
    };
    if (::stat(trash.constData(), &st) == 0 && S_ISDIR(st.st_mode)) {
        device = st.st_dev;
        return true;
    }
    for (QByteArray folder = folderOf(trash);; folder = folderOf(folder)) {
        if (::stat(folder.constData(), &st) == 0) {
            device = st.st_dev;
            return true;
        }
        if (folder == "/" || folder == ".")
            return false;
    }
}

/// Makes `folder` and its missing parents, private to the user; returns 0 or the errno.
int makeFolders(const QByteArray &folder)
{
    if (::mkdir(folder.constData(), 0700) == 0 || errno == EEXIST)
        return 0;
    if (errno != ENOENT || folder == "/")
        return errno;
    if (const int error = makeFolders(folderOf(folder)); error != 0)
        return error;
    return ::mkdir(folder.constData(), 0700) == 0 || errno == EEXIST ? 0 : errno;
}

/// Opens the folder `name` in `parent`, made private where missing; a folder of another user is
/// refused, and so is a symbolic link unless `ownLink` lets one of the user's own lead to it.
/// Returns 0 or the errno.
int openOwnFolder(int parent, const char *name, Descriptor &folder, bool ownLink = false)
{
    folder.reset(::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder.valid() && (errno == ELOOP || errno == ENOTDIR) && ownLink) {
        struct stat link
        {
        };
        if (::fstatat(parent, name, &link, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(link.st_mode) &&
            link.st_uid == ::geteuid())
            folder.reset(::openat(parent, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        else
            errno = ELOOP;
    }
    if (!folder.valid()) {
        if (errno != ENOENT)
            return errno;
        // Made only where missing: an existing one is opened as it is.
        if (::mkdirat(parent, name, 0700) != 0 && errno != EEXIST)
            return errno;
        folder.reset(::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!folder.valid())
            return errno;
    }
    struct stat st
    {
    };
    if (::fstat(folder.get(), &st) != 0)
        return errno;
    if (st.st_uid != ::geteuid())
        return EPERM;
    return 0;
}

/// Opens the trash folder `name` in `parent` with its files/ and info/, each made where
/// missing. `ownLink`: the trash folder itself may be a link of the user's own (a home trash
/// moved to another place of the same drive). Returns 0 or the errno.
int openTrashFolder(int parent, const char *name, Descriptor &files, Descriptor &info,
                    bool ownLink = false)
{
    Descriptor folder;
    if (const int error = openOwnFolder(parent, name, folder, ownLink); error != 0)
        return error;
    if (const int error = openOwnFolder(folder.get(), "files", files); error != 0)
        return error;
    return openOwnFolder(folder.get(), "info", info);
}

int openHomeTrash(const QByteArray &home, Descriptor &files, Descriptor &info)
{
    if (home.isEmpty())
        return ENOENT;
    if (const int error = makeFolders(home); error != 0)
        return error;
    Descriptor parent(::open(home.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parent.valid())
        return errno;
    return openTrashFolder(parent.get(), "Trash", files, info, true);
}

/// The trash of the volume whose top folder is `top`: $top/.Trash/$uid where $top/.Trash is a
/// real folder with the sticky bit (so users cannot take each other's folders), else
/// $top/.Trash-$uid. `folder` becomes its path.
int openTopTrash(const QByteArray &top, QByteArray &folder, Descriptor &files, Descriptor &info)
{
    Descriptor topFolder(::open(top.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!topFolder.valid())
        return errno;
    const QByteArray uid = QByteArray::number(::geteuid());
    Descriptor shared(
        ::openat(topFolder.get(), ".Trash", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st
    {
    };
    if (shared.valid() && ::fstat(shared.get(), &st) == 0 && (st.st_mode & S_ISVTX) &&
        openTrashFolder(shared.get(), uid.constData(), files, info) == 0) {
        folder = join(join(top, ".Trash"), uid);
        return 0;
    }
    const QByteArray own = ".Trash-" + uid;
    folder = join(top, own);
    return openTrashFolder(topFolder.get(), own.constData(), files, info);
}

/// The folder's path as the system resolves it now (through its descriptor where /proc shows
/// it), without links, "." or "..".
int resolvedPath(int folder, const QByteArray &path, QByteArray &resolved)
{
    if (SystemCalls::pathOfDescriptor(folder, resolved))
        return 0;
    char *real = ::realpath(path.constData(), nullptr);
    if (!real)
        return errno;
    resolved = real;
    std::free(real);
    return 0;
}

/// The top folder of the volume holding the folder `resolved`: walks up while the device stays
/// the same.
QByteArray topFolderOf(const QByteArray &resolved, dev_t device)
{
    QByteArray top = resolved;
    struct stat st
    {
    };
    while (top != "/") {
        const QByteArray parent = folderOf(top);
        if (::stat(parent.constData(), &st) != 0 || st.st_dev != device)
            break;
        top = parent;
    }
    return top;
}

/// A failure that says nothing about whether the volume can have a trash: the trash is there
/// or could be, only the drive or the process is short of something now.
bool passingTrouble(int error)
{
    return error == ENOSPC || error == EDQUOT || error == EIO || error == ENOMEM ||
           error == EMFILE || error == ENFILE || error == EINTR;
}

/// `bytes` cut to at most `size` bytes, never inside a UTF-8 sequence.
QByteArray cutAtCharacter(const QByteArray &bytes, qsizetype size)
{
    if (bytes.size() <= size)
        return bytes;
    qsizetype end = size;
    for (int step = 0; step < 3 && end > 0 && (uchar(bytes.at(end)) & 0xC0) == 0x80; ++step)
        --end;
    return bytes.left(end);
}

constexpr char infoSuffix[] = ".trashinfo";

/// The name in the trash for attempt `attempt` at keeping `name`: the name itself, then with a
/// number before its extension ("photo.2.jpg"), so trash views still know the type; short
/// enough that its information file's name fits.
QByteArray trashName(const QByteArray &name, int attempt)
{
    qsizetype dot = name.lastIndexOf('.');
    if (dot <= 0 || name.size() - dot > 16)
        dot = name.size();
    const QByteArray extension = name.mid(dot);
    QByteArray mark;
    if (attempt > 0 && attempt < 100)
        mark = '.' + QByteArray::number(attempt + 1);
    else if (attempt >= 100)
        mark = '.' + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
    const qsizetype room =
        NAME_MAX - qsizetype(sizeof infoSuffix - 1) - extension.size() - mark.size();
    return cutAtCharacter(name.left(dot), room) + mark + extension;
}

/// Claims the information file of `candidate` (it names the entry for every other trashing
/// process too) and writes `info` into it; returns 0 or the errno (EEXIST when taken).
int writeInfo(int infoFolder, const QByteArray &candidate, const QByteArray &info)
{
    const QByteArray name = candidate + infoSuffix;
    Descriptor out(::openat(infoFolder, name.constData(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!out.valid())
        return errno;
    int error = SystemCalls::writeAll(out.get(), info.constData(), info.size());
    if (!out.close() && error == 0)
        error = errno;
    if (error != 0)
        ::unlinkat(infoFolder, name.constData(), 0);
    return error;
}

/// Every entry of `folder` by its name with letter case ignored; `listed` counts how many of
/// the exact names `look` are among them.
QHash<QString, QByteArray> spellingsIn(int folder, const QList<QByteArray> &look = {},
                                       int *listed = nullptr)
{
    QHash<QString, QByteArray> spellings;
    const int listing = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (!dir) {
        if (listing >= 0)
            ::close(listing);
        return spellings;
    }
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (listed && look.contains(name))
            ++*listed;
        spellings.insert(FileNames::decode(name).toCaseFolded(), name);
    }
    ::closedir(dir);
    return spellings;
}

bool linkRefused(int error)
{
    return error == EPERM || error == EXDEV || error == EMLINK || error == EOPNOTSUPP;
}

} // namespace

QString homeFolder()
{
    const QByteArray home = dataHome();
    return home.isEmpty() ? QString() : FileNames::decode(join(home, "Trash"));
}

bool isUsersTrash(const QString &folder)
{
    if (const QString home = homeFolder(); !home.isEmpty() && folder == home)
        return true;
    const QByteArray path = FileNames::encode(folder);
    // As the batch's trash is found: the path as the system resolves it, the folder the user's
    // own and no link, a .Trash above it sticky.
    char *real = ::realpath(path.constData(), nullptr);
    const bool resolved = real && path == real;
    std::free(real);
    struct stat trash
    {
    };
    if (!resolved || ::lstat(path.constData(), &trash) != 0 || !S_ISDIR(trash.st_mode) ||
        trash.st_uid != ::geteuid())
        return false;
    const auto topOfADrive = [](const QByteArray &top) {
        const QByteArray parent = folderOf(top);
        struct stat here
        {
        }, above{};
        return parent == top ||
               (::stat(top.constData(), &here) == 0 && ::stat(parent.constData(), &above) == 0 &&
                here.st_dev != above.st_dev);
    };
    const QByteArray uid = QByteArray::number(::geteuid());
    const QByteArray name = path.mid(path.lastIndexOf('/') + 1);
    const QByteArray top = folderOf(path);
    const auto sticky = [](const QByteArray &shared) {
        struct stat st
        {
        };
        return ::lstat(shared.constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
               (st.st_mode & S_ISVTX) != 0;
    };
    return (name == ".Trash-" + uid && topOfADrive(top)) ||
           (name == uid && top.endsWith("/.Trash") && sticky(top) && topOfADrive(folderOf(top)));
}

QString spellingBefore(const QString &trashName, const QString &name)
{
    const auto sameButCase = [&](const QString &other) {
        return other != name && other.size() == name.size() &&
               other.compare(name, Qt::CaseInsensitive) == 0;
    };
    if (sameButCase(trashName))
        return trashName;
    // trashName() puts its mark between the stem and an extension of up to 15 characters.
    qsizetype extension = name.size() - name.lastIndexOf(QLatin1Char('.'));
    if (extension > name.size() - 1 || extension > 16)
        extension = 0;
    const QString stemAndMark = trashName.left(trashName.size() - extension);
    if (const qsizetype mark = stemAndMark.lastIndexOf(QLatin1Char('.')); mark > 0) {
        const QString unmarked = stemAndMark.left(mark) + trashName.right(extension);
        if (sameButCase(unmarked))
            return unmarked;
    }
    return name;
}

int Bin::open(int folder, const QByteArray &path)
{
    m_found = false;
    const int error = openAt(folder, path);
    m_found = error == 0 || passingTrouble(error);
    if (error == 0)
        ::tzset();
    else
        m_files.reset(-1);
    return error;
}

int Bin::openAt(int folder, const QByteArray &path)
{
    struct stat here
    {
    };
    if (::fstat(folder, &here) != 0)
        return errno;
    const QByteArray home = dataHome();
    dev_t homeDevice = 0;
    const bool homeKnown = !home.isEmpty() && homeTrashDevice(join(home, "Trash"), homeDevice);
    QByteArray resolved;
    if (const int error = resolvedPath(folder, path, resolved); error != 0)
        return error;
    m_resolved = resolved;
    const auto useHomeTrash = [&](bool copies) {
        m_folder = join(home, "Trash");
        m_top.clear();
        m_recordedFolder = recordedFolder(resolved);
        m_copies = copies;
        return openHomeTrash(home, m_files, m_info);
    };
    // Devices of folders are compared: overlay file systems give their files the device of
    // the layer below.
    if (homeKnown && homeDevice == here.st_dev)
        return useHomeTrash(false);
    const QByteArray top = topFolderOf(resolved, here.st_dev);
    const int error = openTopTrash(top, m_folder, m_files, m_info);
    if (error == 0) {
        m_top = top;
        m_recordedFolder = recordedFolder(resolved);
        m_copies = false;
        return 0;
    }
    if (passingTrouble(error) || !homeKnown)
        return error;
    // The drive's own trash cannot be used (another user's folder under our name, a read-only
    // top folder): the home trash keeps a copy, as freedesktop.org's trash rules allow.
    return useHomeTrash(true);
}

QByteArray Bin::recordedFolder(const QByteArray &resolved) const
{
    if (m_top.isEmpty())
        return resolved.endsWith('/') ? resolved : resolved + '/';
    // Relative to the top folder, as trash information of a volume's own trash is.
    QByteArray recorded = resolved == m_top ? QByteArray() : resolved.mid(m_top.size()) + '/';
    if (recorded.startsWith('/'))
        recorded.remove(0, 1);
    return recorded;
}

void Bin::followFolder(int folder)
{
    // A folder renamed while the batch runs: later entries came from it under its new name,
    // and that is where a restore must put them.
    QByteArray now;
    if (!SystemCalls::pathOfDescriptor(folder, now) || now == m_resolved)
        return;
    // It cannot leave its volume by a rename; a path outside the top folder is another view.
    if (!m_top.isEmpty() && m_top != "/" &&
        !(now.startsWith(m_top) && (now.size() == m_top.size() || now[m_top.size()] == '/')))
        return;
    m_resolved = now;
    m_recordedFolder = recordedFolder(m_resolved);
}

QByteArray Bin::listedSpelling(int folder, const QByteArray &name)
{
    // Whether the drive ignores letter case is learnt at the first name with letters: another
    // spelling finds the entry, and the folder does not list that spelling itself.
    if (m_foldsCase == 0)
        return name;
    const QString decoded = FileNames::decode(name);
    if (m_foldsCase < 0) {
        QString other = decoded.toUpper();
        if (other == decoded)
            other = decoded.toLower();
        if (other == decoded)
            return name;
        struct stat st
        {
        };
        if (::fstatat(folder, FileNames::encode(other).constData(), &st, AT_SYMLINK_NOFOLLOW) !=
            0) {
            m_foldsCase = 0;
            return name;
        }
        int listed = 0;
        m_spellings = spellingsIn(folder, {name, FileNames::encode(other)}, &listed);
        // Both spellings listed are two entries of a drive that compares case.
        m_foldsCase = listed == 2 ? 0 : 1;
        if (m_foldsCase == 0) {
            m_spellings.clear();
            return name;
        }
    }
    const QString folded = decoded.toCaseFolded();
    auto found = m_spellings.constFind(folded);
    if (found == m_spellings.cend()) {
        // Named since the folder was read (an earlier step of the batch): read it again.
        m_spellings = spellingsIn(folder);
        found = m_spellings.constFind(folded);
    }
    return found == m_spellings.cend() ? name : *found;
}

QByteArray Bin::infoFor(const QByteArray &name)
{
    const std::time_t now = std::time(nullptr);
    if (now != m_dateSecond) {
        struct tm local
        {
        };
        char text[32];
        if (::localtime_r(&now, &local) &&
            std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local))
            m_date = text;
        m_dateSecond = now;
    }
    QByteArray info;
    info.reserve(64 + m_recordedFolder.size() + name.size() * 3);
    info += "[Trash Info]\nPath=";
    info += encodedPath(m_recordedFolder + name);
    info += "\nDeletionDate=";
    info += m_date;
    info += '\n';
    return info;
}

int Bin::keep(int folder, const QByteArray &name, const struct stat &entry,
              const QByteArray &temporary, QByteArray &trashedAs)
{
    trashedAs.clear();
    if (!isOpen())
        return EBADF;
    followFolder(folder);
    // Recorded as the folder lists it, so that a restore brings back the name it had.
    const QByteArray listed = listedSpelling(folder, name);
    const QByteArray info = infoFor(listed);
    if (!m_copies) {
        for (int attempt = 0; attempt < 200; ++attempt) {
            const QByteArray candidate = trashName(listed, attempt);
            // The information comes first and claims the name, so two trashing processes never
            // pick the same one.
            if (const int error = writeInfo(m_info.get(), candidate, info); error != 0) {
                if (error == EEXIST)
                    continue;
                return error;
            }
            if (::linkat(folder, name.constData(), m_files.get(), candidate.constData(), 0) == 0) {
                trashedAs = join(m_folder, "files/" + candidate);
                return 0;
            }
            const int error = errno;
            ::unlinkat(m_info.get(), (candidate + infoSuffix).constData(), 0);
            // A file left in files/ without its information still owns the name.
            if (error == EEXIST)
                continue;
            if (!linkRefused(error))
                return error;
            // Drives without hard links (FAT, exFAT) and links across mounts: from now on the
            // trash keeps full copies.
            m_copies = true;
            break;
        }
        if (!m_copies)
            return EEXIST;
    }
    return copyIn(folder, name, listed, entry, temporary, info, trashedAs);
}

int Bin::copyIn(int folder, const QByteArray &name, const QByteArray &listed,
                const struct stat &entry, const QByteArray &temporary, const QByteArray &info,
                QByteArray &trashedAs)
{
    // The copy is whole and synced before it has a name in files/ and before the original is
    // replaced: a trash entry is never a cut-short file.
    QByteArray linkText;
    Descriptor copy;
    bool named = false;
    if (S_ISLNK(entry.st_mode)) {
        char text[PATH_MAX];
        const ssize_t length = ::readlinkat(folder, name.constData(), text, sizeof text - 1);
        if (length < 0)
            return errno;
        linkText = QByteArray(text, int(length));
    } else if (S_ISREG(entry.st_mode)) {
        Descriptor in;
        struct stat st
        {
        };
        if (const int error = SystemCalls::openRegularAt(folder, name.constData(), false, in, st);
            error != 0)
            return error == ENODEV ? EPERM : error;
        copy.reset(::openat(m_files.get(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
        if (!copy.valid()) {
            if (!SystemCalls::unnamedRefused(errno) || temporary.isEmpty())
                return errno;
            copy.reset(::openat(m_files.get(), temporary.constData(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
            if (!copy.valid())
                return errno;
            named = true;
        }
        if (const int error = SystemCalls::fillCopy(in.get(), st, copy.get(), true); error != 0) {
            if (named)
                ::unlinkat(m_files.get(), temporary.constData(), 0);
            return error;
        }
    } else {
        return EPERM;
    }

    int error = EEXIST;
    for (int attempt = 0; attempt < 200 && error == EEXIST; ++attempt) {
        const QByteArray candidate = trashName(listed, attempt);
        if (error = writeInfo(m_info.get(), candidate, info); error != 0)
            continue;
        if (!linkText.isNull())
            error = ::symlinkat(linkText.constData(), m_files.get(), candidate.constData()) == 0
                        ? 0
                        : errno;
        else if (named)
            error = SystemCalls::renameWithoutReplacing(m_files.get(), temporary.constData(),
                                                        m_files.get(), candidate.constData());
        else
            error = SystemCalls::linkUnnamed(copy.get(), m_files.get(), candidate.constData());
        if (error == 0 && (error = SystemCalls::syncFolder(m_files.get())) == 0) {
            trashedAs = join(m_folder, "files/" + candidate);
            return 0;
        }
        ::unlinkat(m_info.get(), (candidate + infoSuffix).constData(), 0);
    }
    if (named)
        ::unlinkat(m_files.get(), temporary.constData(), 0);
    return error;
}

namespace {

/// Opens the folder part of `path` and its trash; `entry` is the entry's status.
OpResult openBinOf(const QString &path, Descriptor &folder, QByteArray &name, struct stat &entry,
                   Bin &bin, bool *trashFound = nullptr)
{
    const QByteArray bytes = FileNames::encode(path);
    const QByteArray folderPath = folderOf(bytes);
    name = fileNameOf(bytes);
    folder.reset(::open(folderPath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.valid())
        return failureOf(errno, path);
    if (::fstatat(folder.get(), name.constData(), &entry, AT_SYMLINK_NOFOLLOW) != 0)
        return failureOf(errno, path);
    const int error = bin.open(folder.get(), folderPath);
    if (trashFound)
        *trashFound = bin.found();
    if (error != 0)
        return failureOf(error, path);
    return OpResult::success();
}

} // namespace

OpResult folderFor(const QString &path, QString &folder)
{
    folder.clear();
    Descriptor parent;
    QByteArray name;
    struct stat entry
    {
    };
    Bin bin;
    if (OpResult opened = openBinOf(path, parent, name, entry, bin); !opened)
        return opened;
    folder = FileNames::decode(bin.folder());
    return OpResult::success();
}

OpResult keep(const QString &path, QString &trashedAs, bool *trashFound)
{
    trashedAs.clear();
    if (trashFound)
        *trashFound = false;
    Descriptor parent;
    QByteArray name;
    struct stat entry
    {
    };
    Bin bin;
    if (OpResult opened = openBinOf(path, parent, name, entry, bin, trashFound); !opened)
        return opened;
    QByteArray kept;
    const QByteArray temporary =
        ".kaenami-" + QByteArray::number(QRandomGenerator::global()->generate64(), 36) + ".part";
    if (const int error = bin.keep(parent.get(), name, entry, temporary, kept); error != 0)
        return failureOf(error, path);
    trashedAs = FileNames::decode(kept);
    return OpResult::success();
}

OpResult discard(const QString &trashedAs)
{
    if (infoFileOf(trashedAs).isEmpty())
        return failureOf(EINVAL, trashedAs);
    if (::unlink(FileNames::encode(trashedAs).constData()) != 0 && errno != ENOENT)
        return failureOf(errno, trashedAs);
    return forget(trashedAs);
}

QString infoFileOf(const QString &trashedFile)
{
    const QByteArray file = FileNames::encode(trashedFile);
    const QByteArray files = folderOf(file);
    if (fileNameOf(files) != "files" || fileNameOf(file).isEmpty())
        return {};
    return FileNames::decode(join(folderOf(files), "info/" + fileNameOf(file) + infoSuffix));
}

OpResult forget(const QString &trashedFile)
{
    const QString info = infoFileOf(trashedFile);
    if (info.isEmpty())
        return failureOf(EINVAL, trashedFile);
    if (::unlink(FileNames::encode(info).constData()) != 0 && errno != ENOENT)
        return failureOf(errno, info);
    return OpResult::success();
}

QByteArray encodedPath(const QByteArray &path)
{
    return path.toPercentEncoding("/");
}

} // namespace Trash
