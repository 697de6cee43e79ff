#include "availablememory.h"

#include "regularfile.h"

#include <QFile>
#include <QList>

#include <algorithm>
#include <limits>
#include <optional>
#include <unistd.h>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file;
    if (!openRegularFile(path, file))
        return {};
    return file.readAll();
}

/// A number from a control-group file; none for "max", for what cannot be read and for the
/// near-2^63 values cgroup v1 writes for "no limit".
std::optional<qint64> cgroupNumber(const QString &path)
{
    bool ok = false;
    const qint64 value = readAll(path).trimmed().toLongLong(&ok);
    if (!ok || value >= (qint64(1) << 60))
        return std::nullopt;
    return value;
}

/// The least headroom (limit less usage) of the group at `path` under `mount` and of each of its
/// ancestors; the mount may show only part of the tree (a container), so missing files count as
/// no limit.
qint64 cgroupHeadroom(const QString &mount, QString path, const QString &limitFile,
                      const QString &usageFile, qint64 headroom)
{
    for (;;) {
        const QString folder = mount + (path == QLatin1String("/") ? QString() : path);
        const std::optional<qint64> limit = cgroupNumber(folder + u'/' + limitFile);
        const std::optional<qint64> usage = cgroupNumber(folder + u'/' + usageFile);
        if (limit && usage)
            headroom = std::min(headroom, std::max<qint64>(0, *limit - *usage));
        if (path.isEmpty() || path == QLatin1String("/"))
            return headroom;
        path.truncate(std::max<qsizetype>(1, path.lastIndexOf(u'/')));
    }
}

qint64 systemAvailable()
{
    // MemAvailable counts the page cache the kernel would give back; the free pages do not.
    const QList<QByteArray> lines = readAll(QStringLiteral("/proc/meminfo")).split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith("MemAvailable:")) {
            bool ok = false;
            const qint64 kib = line.mid(13).trimmed().split(' ').value(0).toLongLong(&ok);
            if (ok)
                return kib * 1024;
        }
    }
    const long pages = ::sysconf(_SC_AVPHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? qint64(pages) * pageSize : 0;
}

} // namespace

namespace SystemMemory {

qint64 available()
{
    qint64 available = systemAvailable();
    if (available <= 0)
        available = std::numeric_limits<qint64>::max();
    // A container's limit is not in /proc/meminfo: its control groups say what it may take.
    const QList<QByteArray> groups = readAll(QStringLiteral("/proc/self/cgroup")).split('\n');
    for (const QByteArray &line : groups) {
        const qsizetype first = line.indexOf(':');
        const qsizetype second = line.indexOf(':', first + 1);
        if (first < 0 || second < 0)
            continue;
        const QByteArray controllers = line.mid(first + 1, second - first - 1);
        const QString path = QString::fromUtf8(line.mid(second + 1));
        if (line.left(first) == "0" && controllers.isEmpty()) {
            available =
                cgroupHeadroom(QStringLiteral("/sys/fs/cgroup"), path, QStringLiteral("memory.max"),
                               QStringLiteral("memory.current"), available);
        } else if (controllers.split(',').contains("memory")) {
            available = cgroupHeadroom(QStringLiteral("/sys/fs/cgroup/memory"), path,
                                       QStringLiteral("memory.limit_in_bytes"),
                                       QStringLiteral("memory.usage_in_bytes"), available);
        }
    }
    return available == std::numeric_limits<qint64>::max() ? 0 : available;
}

} // namespace SystemMemory
