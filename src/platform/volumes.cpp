#include "volumes.h"

#include <QDir>
#include <QFile>
#include <QStorageInfo>

#include <cerrno>
#include <dirent.h>

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

QString SystemVolumes::currentFolder(const QString &root)
{
    if (const auto it = m_current.constFind(root); it != m_current.constEnd())
        return *it;
    const QString home = homeFolder();
    return rootOf(list(), home) == root ? home : root;
}

void SystemVolumes::setCurrentFolder(const QString &folder)
{
    const QString root = rootOf(list(), folder);
    if (!root.isEmpty())
        m_current.insert(root, folder);
}

OpResult SystemVolumes::checkReadable(const QString &folder)
{
    DIR *dir = ::opendir(QFile::encodeName(folder).constData());
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

QString SystemVolumes::homeFolder()
{
    return QDir::homePath();
}
