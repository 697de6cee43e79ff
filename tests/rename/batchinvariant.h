#pragma once

// What every batch must leave true, whatever its outcome: checked on real folders by the
// random batch test and after killing a batch. Folders are read with plain system calls and
// raw byte names, independently of the code under test.

#include <QByteArray>
#include <QCryptographicHash>
#include <QMap>
#include <QRandomGenerator>
#include <QSet>
#include <QStringList>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace BatchInvariant {

/// The seed of a random test: KAENAMI_SEED when given (to repeat a run), else a fresh one.
inline quint64 seed()
{
    bool ok = false;
    const quint64 given = qEnvironmentVariable("KAENAMI_SEED").toULongLong(&ok);
    return ok ? given : QRandomGenerator::system()->generate64();
}

/// An environment variable's number, or `fallback`.
inline int count(const char *variable, int fallback)
{
    bool ok = false;
    const int given = qEnvironmentVariableIntValue(variable, &ok);
    return ok ? given : fallback;
}

struct Entry
{
    enum class Kind
    {
        File,
        Link,
        Other
    };
    Kind kind = Kind::Other;
    QByteArray content;    ///< a file's bytes (hashed when large)
    QByteArray linkTarget; ///< a link's text
    quint64 device = 0, inode = 0;
    bool operator==(const Entry &o) const
    {
        return kind == o.kind && content == o.content && linkTarget == o.linkTarget;
    }
};

/// Raw full path -> entry, for every entry (hidden ones too) of the folders.
using Snapshot = QMap<QByteArray, Entry>;

inline QByteArray contentOf(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return "<unreadable>";
    QByteArray bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0)
            break;
        bytes.append(buffer, got);
    }
    ::close(fd);
    if (bytes.size() > 4096)
        return "sha256:" + QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
    return bytes;
}

inline Snapshot snapshot(const QList<QByteArray> &folders)
{
    Snapshot all;
    for (const QByteArray &folder : folders) {
        DIR *dir = ::opendir(folder.constData());
        if (!dir)
            continue;
        while (const dirent *d = ::readdir(dir)) {
            const QByteArray name(d->d_name);
            if (name == "." || name == "..")
                continue;
            const QByteArray path = folder + '/' + name;
            struct stat st
            {
            };
            if (::lstat(path.constData(), &st) != 0)
                continue;
            Entry e;
            e.device = st.st_dev;
            e.inode = st.st_ino;
            if (S_ISREG(st.st_mode)) {
                e.kind = Entry::Kind::File;
                e.content = contentOf(path);
            } else if (S_ISLNK(st.st_mode)) {
                e.kind = Entry::Kind::Link;
                char target[4096];
                const ssize_t n = ::readlink(path.constData(), target, sizeof target);
                e.linkTarget = QByteArray(target, n > 0 ? int(n) : 0);
            }
            all.insert(path, e);
        }
        ::closedir(dir);
    }
    return all;
}

/// The content a path resolves to before the batch (links followed), if it is a regular file.
inline std::optional<QByteArray> resolvedContent(const QByteArray &path)
{
    struct stat st
    {
    };
    if (::stat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return contentOf(path);
}

inline QByteArray nameOf(const QByteArray &path)
{
    return path.mid(path.lastIndexOf('/') + 1);
}

inline QByteArray folderOf(const QByteArray &path)
{
    return path.left(path.lastIndexOf('/'));
}

/// What the checks need to know of the batch.
struct Batch
{
    QByteArray sourceFolder, targetFolder;
    QList<QByteArray> untouchable; ///< folders no batch may change (beside source and target)
    QByteArray journalFolder;
    bool move = false;
    /// Per plan item: the source and its resolved content before, and the new name's path.
    struct Item
    {
        QByteArray source;
        std::optional<QByteArray> content;
        QByteArray target;
    };
    QList<Item> items;
};

/// Every violation of the invariant, in words; empty when the batch kept its promise.
inline QStringList violations(const Batch &batch, const Snapshot &before, const Snapshot &after)
{
    QStringList found;
    const auto say = [&](const QString &what, const QByteArray &path) {
        found.append(what + QStringLiteral(": ") + QString::fromUtf8(path.toPercentEncoding("/")));
    };
    const bool sameFolder = batch.sourceFolder == batch.targetFolder;

    // No hidden file of a batch and no journal is left behind (the undo history is the
    // program's own file).
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        if (nameOf(it.key()).startsWith(".kaenami-") && nameOf(it.key()) != ".kaenami-undo" &&
            !before.contains(it.key()))
            say(QStringLiteral("hidden leftover"), it.key());
    }

    // Contents the batch may replace: files that stood under a new name and were no source.
    QSet<QByteArray> sourceContents;
    QHash<QByteArray, QSet<QByteArray>> allowedAt; // new name -> contents it may hold
    for (const Batch::Item &item : batch.items) {
        if (item.content)
            sourceContents.insert(*item.content);
    }
    QSet<QByteArray> replaceable;
    for (const Batch::Item &item : batch.items) {
        auto &allowed = allowedAt[item.target];
        if (item.content)
            allowed.insert(*item.content);
        const auto old = before.constFind(item.target);
        if (old != before.cend() && old->kind == Entry::Kind::File) {
            allowed.insert(old->content);
            if (!sourceContents.contains(old->content))
                replaceable.insert(old->content);
        }
        // A link standing under the new name may still be there, unchanged.
    }

    // Every other content is still in a visible file.
    QSet<QByteArray> visibleContents;
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        if (it->kind == Entry::Kind::File && !nameOf(it.key()).startsWith('.'))
            visibleContents.insert(it->content);
    }
    QSet<QByteArray> reported;
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        if (it->kind != Entry::Kind::File || nameOf(it.key()).startsWith('.'))
            continue;
        if (!visibleContents.contains(it->content) && !replaceable.contains(it->content) &&
            !reported.contains(it->content)) {
            reported.insert(it->content);
            say(QStringLiteral("content lost (was in)"), it.key());
        }
    }

    // Folders that are not the target: nothing changes, but moved sources go.
    QSet<QByteArray> movedSources;
    for (const Batch::Item &item : batch.items)
        movedSources.insert(item.source);
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        const QByteArray folder = folderOf(it.key());
        if (folder == batch.targetFolder || nameOf(it.key()).startsWith(".kaenami-"))
            continue;
        const auto old = before.constFind(it.key());
        if (old == before.cend())
            say(QStringLiteral("new file outside the target folder"), it.key());
        else if (!(*old == *it))
            say(QStringLiteral("changed outside the target folder"), it.key());
    }
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        const QByteArray folder = folderOf(it.key());
        if (folder == batch.targetFolder || after.contains(it.key()))
            continue;
        if (!(batch.move && movedSources.contains(it.key())))
            say(QStringLiteral("removed outside the target folder"), it.key());
    }

    // The target folder: new names hold a whole source content (or what they held), other
    // names are unchanged, restored contents are whole.
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        if (folderOf(it.key()) != batch.targetFolder || nameOf(it.key()).startsWith('.'))
            continue;
        const auto allowed = allowedAt.constFind(it.key());
        const auto old = before.constFind(it.key());
        if (allowed != allowedAt.cend()) {
            // A new name holds a whole content it may hold, or stays as it was.
            if (old != before.cend() && *old == *it)
                continue;
            if (it->kind != Entry::Kind::File)
                say(QStringLiteral("new name is no regular file"), it.key());
            else if (!allowed->contains(it->content))
                say(QStringLiteral("new name holds something else"), it.key());
        } else if (old != before.cend()) {
            if (!(*old == *it))
                say(QStringLiteral("changed in the target folder"), it.key());
        } else if (it->kind != Entry::Kind::File ||
                   !QString::fromUtf8(nameOf(it.key())).contains(QStringLiteral("(復元"))) {
            say(QStringLiteral("unexpected new file"), it.key());
        } else if (!sourceContents.contains(it->content)) {
            say(QStringLiteral("restored file holds no source content"), it.key());
        }
    }
    // Sources removed from the target folder (one folder) were moved, nothing else.
    if (sameFolder) {
        for (auto it = before.cbegin(); it != before.cend(); ++it) {
            if (folderOf(it.key()) != batch.targetFolder || after.contains(it.key()) ||
                nameOf(it.key()).startsWith('.'))
                continue;
            if (!(batch.move && movedSources.contains(it.key())) && !allowedAt.contains(it.key()))
                say(QStringLiteral("removed from the folder"), it.key());
        }
    }

    // The journal is gone.
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        if (folderOf(it.key()) == batch.journalFolder &&
            nameOf(it.key()).startsWith(".kaenami-batch-"))
            say(QStringLiteral("journal left"), it.key());
    }
    return found;
}

} // namespace BatchInvariant
