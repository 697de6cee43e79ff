#include "volumes.h"

#include "filenames.h"

#include <QStorageInfo>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

QString Volumes::rootOf(const QList<Volume> &volumes, const QString &path)
{
    if (!path.startsWith(QLatin1Char('/')))
        return {};
    QString best;
    for (const Volume &volume : volumes) {
        const QString &root = volume.root;
        const bool holds = root == QLatin1String("/") || path == root ||
                           (path.startsWith(root) && path.at(root.size()) == QLatin1Char('/'));
        if (holds && root.size() > best.size())
            best = root;
    }
    return best;
}

namespace {

bool isPseudo(const QByteArray &type)
{
    static const QByteArray pseudo[] = {
        "proc",      "sysfs",      "devtmpfs",   "devpts",  "cgroup",      "cgroup2",
        "debugfs",   "tracefs",    "securityfs", "pstore",  "bpf",         "mqueue",
        "hugetlbfs", "configfs",   "fusectl",    "autofs",  "binfmt_misc", "efivarfs",
        "nsfs",      "rpc_pipefs", "overlay",    "squashfs"};
    for (const QByteArray &p : pseudo) {
        if (type == p)
            return true;
    }
    return false;
}

bool isSystemMount(const QString &root)
{
    for (const char *prefix : {"/proc", "/sys", "/dev", "/run"}) {
        const QString p = QLatin1String(prefix);
        if (root == p || root.startsWith(p + QLatin1Char('/')))
            return !(root == QLatin1String("/run/media") ||
                     root.startsWith(QLatin1String("/run/media/")));
    }
    return false;
}

} // namespace

QList<Volume> SystemVolumes::list()
{
    // Asked several times in a row while a pane moves; the mount table is read once a second.
    if (m_listedAt.isValid() && m_listedAt.elapsed() < 1000)
        return m_cached;
    QList<Volume> volumes{{QStringLiteral("/"), {}}};
    for (const QStorageInfo &info : QStorageInfo::mountedVolumes()) {
        const QString root = info.rootPath();
        if (root == QLatin1String("/")) {
            volumes.first().label = info.name();
            continue;
        }
        if (isPseudo(info.fileSystemType()) || isSystemMount(root))
            continue;
        // tmpfs mounts other than user-visible ones are plumbing (/tmp stays browsable from "/").
        if (info.fileSystemType() == "tmpfs")
            continue;
        volumes.append({root, info.name()});
    }
    m_cached = volumes;
    m_listedAt.start();
    return volumes;
}

QString SystemVolumes::startFolder(const QString &root)
{
    const QString home = homeFolder();
    return rootOf(list(), home) == root ? home : root;
}

OpResult SystemVolumes::checkReadable(const QString &folder)
{
    DIR *dir = ::opendir(FileNames::encode(folder).constData());
    if (!dir)
        return OpResult::failure(systemErrorText(errno), folder);
    errno = 0;
    ::readdir(dir);
    const int error = errno;
    ::closedir(dir);
    if (error != 0)
        return OpResult::failure(systemErrorText(error), folder);
    return OpResult::success();
}

OpResult SystemVolumes::listFolders(const QString &folder, QStringList &names)
{
    names.clear();
    const int fd =
        ::open(FileNames::encode(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return OpResult::failure(systemErrorText(errno), folder);
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        const int error = errno;
        ::close(fd);
        return OpResult::failure(systemErrorText(error), folder);
    }
    int error = 0;
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(dir);
        if (!entry) {
            error = errno;
            break;
        }
        if (entry->d_name[0] == '.')
            continue;
        bool isFolder = entry->d_type == DT_DIR;
        // Links are followed; some file systems leave the type to be asked for.
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat st
            {
            };
            isFolder = ::fstatat(fd, entry->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        }
        if (isFolder)
            names.append(FileNames::decode(QByteArray(entry->d_name)));
    }
    ::closedir(dir);
    if (error != 0) {
        names.clear();
        return OpResult::failure(systemErrorText(error), folder);
    }
    return OpResult::success();
}

QString SystemVolumes::homeFolder()
{
    QByteArray home = qgetenv("HOME");
    if (!home.startsWith('/')) {
        const passwd *user = ::getpwuid(::getuid());
        home = user && user->pw_dir ? QByteArray(user->pw_dir) : QByteArray("/");
    }
    while (home.size() > 1 && home.endsWith('/'))
        home.chop(1);
    return FileNames::decode(home);
}
