#include "trash.h"

#include "filecopy.h"
#include "filenames.h"
#include "systemcalls.h"

#include <QDateTime>
#include <QRandomGenerator>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Trash {

namespace {

using Descriptor = SystemCalls::FileDescriptor;
using SystemCalls::failureOf;
using SystemCalls::fileNameOf;
using SystemCalls::folderOf;

/// A trash folder ready for use. Its files/ and info/ are held open, so that nothing swapped in
/// under their names later redirects what goes in.
struct OpenedTrash
{
    QByteArray folder;
    Descriptor files;
    Descriptor info;
};

QByteArray join(const QByteArray &folder, const QByteArray &name)
{
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

QByteArray withoutTrailingSlashes(QByteArray path)
{
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path;
}

/// $XDG_DATA_HOME, else $HOME/.local/share; a relative value counts as unset, as the XDG base
/// directories say.
QByteArray dataHome()
{
    const QByteArray data = qgetenv("XDG_DATA_HOME");
    if (data.startsWith('/'))
        return withoutTrailingSlashes(data);
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
    return join(withoutTrailingSlashes(home), ".local/share");
}

/// The device the home trash lies on, or would be made on.
bool homeTrashDevice(const QByteArray &trash, dev_t &device)
{
    struct stat st
    {
    };
    if (::lstat(trash.constData(), &st) == 0 && S_ISDIR(st.st_mode)) {
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

/// Opens the folder `name` in `parent`, made private where missing; a symbolic link or a folder
/// of another user is refused. Returns 0 or the errno.
int openOwnFolder(int parent, const QByteArray &name, Descriptor &folder)
{
    if (::mkdirat(parent, name.constData(), 0700) != 0 && errno != EEXIST)
        return errno;
    folder.reset(
        ::openat(parent, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder.valid())
        return errno;
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
/// missing. Returns 0 or the errno.
int openTrashFolder(int parent, const QByteArray &name, const QByteArray &path, OpenedTrash &trash)
{
    Descriptor folder, files, info;
    if (const int error = openOwnFolder(parent, name, folder); error != 0)
        return error;
    if (const int error = openOwnFolder(folder.get(), "files", files); error != 0)
        return error;
    if (const int error = openOwnFolder(folder.get(), "info", info); error != 0)
        return error;
    trash.folder = path;
    trash.files.reset(files.release());
    trash.info.reset(info.release());
    return 0;
}

int openHomeTrash(const QByteArray &home, OpenedTrash &trash)
{
    if (home.isEmpty())
        return ENOENT;
    if (const int error = makeFolders(home); error != 0)
        return error;
    Descriptor parent(::open(home.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parent.valid())
        return errno;
    return openTrashFolder(parent.get(), "Trash", join(home, "Trash"), trash);
}

/// The trash of the volume whose top folder is `top`: $top/.Trash/$uid where $top/.Trash is a
/// real folder with the sticky bit (so users cannot take each other's folders), else
/// $top/.Trash-$uid.
int openTopTrash(const QByteArray &top, OpenedTrash &trash)
{
    Descriptor topFolder(::open(top.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!topFolder.valid())
        return errno;
    const QByteArray uid = QByteArray::number(::getuid());
    Descriptor shared(
        ::openat(topFolder.get(), ".Trash", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st
    {
    };
    if (shared.valid() && ::fstat(shared.get(), &st) == 0 && (st.st_mode & S_ISVTX) &&
        openTrashFolder(shared.get(), uid, join(join(top, ".Trash"), uid), trash) == 0)
        return 0;
    const QByteArray own = ".Trash-" + uid;
    return openTrashFolder(topFolder.get(), own, join(top, own), trash);
}

/// The top folder of the volume holding `folder`: walks up from it while the device stays the
/// same. `resolved` is `folder` without links, "." or "..".
int topFolderOf(const QByteArray &folder, QByteArray &resolved, QByteArray &top)
{
    char *real = ::realpath(folder.constData(), nullptr);
    if (!real)
        return errno;
    resolved = real;
    std::free(real);
    struct stat st
    {
    };
    if (::stat(resolved.constData(), &st) != 0)
        return errno;
    const dev_t device = st.st_dev;
    top = resolved;
    while (top != "/") {
        const QByteArray parent = folderOf(top);
        if (::stat(parent.constData(), &st) != 0 || st.st_dev != device)
            break;
        top = parent;
    }
    return 0;
}

/// Opens the trash that can take a hard link of the entry `path`, and gives the Path its trash
/// information records: absolute for the home trash, relative to the volume's top folder for
/// the others. Returns 0 or the errno.
int openTrashFor(const QByteArray &path, OpenedTrash &trash, QByteArray &recordedPath)
{
    // Devices of folders are compared: overlay file systems give their files the device of
    // the layer below.
    struct stat folderStatus
    {
    };
    if (::stat(folderOf(path).constData(), &folderStatus) != 0)
        return errno;
    const QByteArray home = dataHome();
    dev_t homeDevice = 0;
    if (!home.isEmpty() && homeTrashDevice(join(home, "Trash"), homeDevice) &&
        homeDevice == folderStatus.st_dev) {
        recordedPath = path;
        if (!path.startsWith('/')) {
            char *current = ::getcwd(nullptr, 0);
            if (!current)
                return errno;
            recordedPath = join(current, path);
            std::free(current);
        }
        return openHomeTrash(home, trash);
    }
    QByteArray folder, top;
    if (const int error = topFolderOf(folderOf(path), folder, top); error != 0)
        return error;
    recordedPath = folder == top ? QByteArray() : folder.mid(top == "/" ? 1 : top.size() + 1);
    recordedPath = recordedPath.isEmpty() ? fileNameOf(path) : join(recordedPath, fileNameOf(path));
    return openTopTrash(top, trash);
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

int writeAll(int fd, const QByteArray &bytes)
{
    return SystemCalls::writeAll(fd, bytes.constData(), bytes.size());
}

} // namespace

QString homeFolder()
{
    const QByteArray home = dataHome();
    return home.isEmpty() ? QString() : FileNames::decode(join(home, "Trash"));
}

namespace {

/// A failure that says nothing about whether the volume can have a trash: the trash is there
/// or could be, only the drive or the process is short of something now.
bool passingTrouble(int error)
{
    return error == ENOSPC || error == EDQUOT || error == EIO || error == ENOMEM ||
           error == EMFILE || error == ENFILE || error == EINTR;
}

/// Looks at the existing entry `path` and opens the trash of its volume. `trashFound` tells
/// whether the volume has, or could have, a usable trash.
OpResult openTrashOf(const QString &path, QByteArray &entryPath, struct stat &entry,
                     OpenedTrash &trash, QByteArray &recordedPath, bool *trashFound = nullptr)
{
    entryPath = FileNames::encode(path);
    if (::lstat(entryPath.constData(), &entry) != 0)
        return failureOf(errno, path);
    const int error = openTrashFor(entryPath, trash, recordedPath);
    if (trashFound)
        *trashFound = error == 0 || passingTrouble(error);
    if (error != 0)
        return failureOf(error, path);
    return OpResult::success();
}

} // namespace

OpResult folderFor(const QString &path, QString &folder)
{
    folder.clear();
    QByteArray entryPath, recordedPath;
    struct stat entry
    {
    };
    OpenedTrash trash;
    if (OpResult opened = openTrashOf(path, entryPath, entry, trash, recordedPath); !opened)
        return opened;
    folder = FileNames::decode(trash.folder);
    return OpResult::success();
}

/// Copies the entry `path` (a regular file, or a symbolic link as a link) to the new name
/// `name` in the folder `folder`; returns 0 or the errno. Nothing is left on failure.
int copyInto(int folder, const QByteArray &name, const QByteArray &path, const struct stat &entry)
{
    if (S_ISLNK(entry.st_mode)) {
        char text[PATH_MAX];
        const ssize_t length = ::readlink(path.constData(), text, sizeof text - 1);
        if (length < 0)
            return errno;
        text[length] = '\0';
        return ::symlinkat(text, folder, name.constData()) == 0 ? 0 : errno;
    }
    if (!S_ISREG(entry.st_mode))
        return EPERM;
    Descriptor in(::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    if (!in.valid())
        return errno;
    Descriptor out(::openat(folder, name.constData(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!out.valid())
        return errno;
    // The original is replaced right after: the copy must be on disk first.
    int error = SystemCalls::fillCopy(in.get(), entry, out.get(), true);
    if (::close(out.release()) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::fsync(folder) != 0)
        error = errno;
    if (error != 0)
        ::unlinkat(folder, name.constData(), 0);
    return error;
}

OpResult keep(const QString &path, QString &trashedAs, bool *trashFound)
{
    trashedAs.clear();
    if (trashFound)
        *trashFound = false;
    QByteArray entryPath, recordedPath;
    struct stat entry
    {
    };
    OpenedTrash trash;
    if (OpResult opened = openTrashOf(path, entryPath, entry, trash, recordedPath, trashFound);
        !opened)
        return opened;

    const QByteArray info =
        "[Trash Info]\nPath=" + encodedPath(recordedPath) + "\nDeletionDate=" +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss")).toLatin1() +
        '\n';
    const QByteArray name = fileNameOf(entryPath);
    for (int attempt = 0; attempt < 200; ++attempt) {
        const QByteArray candidate = trashName(name, attempt);
        const QByteArray infoName = candidate + infoSuffix;
        // The information comes first and claims the name, so two trashing processes never
        // pick the same one.
        Descriptor out(::openat(trash.info.get(), infoName.constData(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!out.valid()) {
            if (errno == EEXIST)
                continue;
            return failureOf(errno, FileNames::decode(join(trash.folder, "info/" + infoName)));
        }
        int error = writeAll(out.get(), info);
        if (::close(out.release()) != 0 && error == 0)
            error = errno;
        if (error == 0 && ::linkat(AT_FDCWD, entryPath.constData(), trash.files.get(),
                                   candidate.constData(), 0) == 0) {
            trashedAs = FileNames::decode(join(trash.folder, "files/" + candidate));
            return OpResult::success();
        }
        if (error == 0)
            error = errno;
        // Drives without hard links (FAT, exFAT) and links across mounts: the trash keeps a
        // full copy instead, made before the original is replaced.
        if (error == EPERM || error == EXDEV || error == EMLINK || error == EOPNOTSUPP)
            error = copyInto(trash.files.get(), candidate, entryPath, entry);
        if (error == 0) {
            trashedAs = FileNames::decode(join(trash.folder, "files/" + candidate));
            return OpResult::success();
        }
        ::unlinkat(trash.info.get(), infoName.constData(), 0);
        // A file left in files/ without its information still owns the name.
        if (error != EEXIST)
            return failureOf(error, path);
    }
    return failureOf(EEXIST, path);
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
