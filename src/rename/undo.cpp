#include "undo.h"

#include "filenames.h"
#include "paths.h"

#include <QSet>

#include <map>

namespace {

constexpr char historyHeader[] = "kaenami undo history 2";
constexpr int actionFields = 22;

/// The exact bytes, with only what would break the line format escaped as %XX.
void appendField(QByteArray &out, const QString &text)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    for (const char c : FileNames::encode(text)) {
        const auto byte = uchar(c);
        if (byte > 0x20 && byte < 0x7F && byte != '%') {
            out.append(c);
        } else {
            out.append('%');
            out.append(hex[byte >> 4]);
            out.append(hex[byte & 15]);
        }
    }
}

QString unfield(const QByteArray &text)
{
    return FileNames::decode(QByteArray::fromPercentEncoding(text));
}

void appendAction(QByteArray &out, const JobAction &a)
{
    const auto number = [&](auto value) {
        out.append(' ');
        out.append(QByteArray::number(value));
    };
    const auto text = [&](const QString &value) {
        out.append(' ');
        appendField(out, value);
    };
    const auto status = [&](const FileStatus &st) {
        number(int(st.type));
        number(st.device);
        number(st.inode);
        number(st.size);
        number(st.modifiedNs);
        number(st.links);
    };
    out.append('a');
    number(int(a.kind));
    number(a.item);
    text(a.source);
    text(a.from);
    text(a.to);
    status(a.written);
    number(a.replaced ? 1 : 0);
    text(a.trashedAs);
    status(a.trashed);
    text(a.linkText);
    out.append(" .\n");
}

/// Reads the fields of one action line in the order appendAction writes them.
class ActionReader
{
public:
    explicit ActionReader(const QList<QByteArray> &fields) : m_fields(fields) {}
    bool ok() const { return m_ok; }

    qint64 number()
    {
        bool good = false;
        const qint64 value = next().toLongLong(&good);
        m_ok = m_ok && good;
        return value;
    }
    quint64 unsignedNumber()
    {
        bool good = false;
        const quint64 value = next().toULongLong(&good);
        m_ok = m_ok && good;
        return value;
    }
    QString text() { return unfield(next()); }
    FileStatus status()
    {
        FileStatus st;
        const qint64 type = number();
        m_ok = m_ok && type >= 0 && type <= int(FileStatus::Type::Other);
        st.type = m_ok ? FileStatus::Type(type) : FileStatus::Type::Missing;
        st.device = unsignedNumber();
        st.inode = unsignedNumber();
        st.size = number();
        st.modifiedNs = number();
        st.links = unsignedNumber();
        return st;
    }

private:
    QByteArray next() { return m_next < m_fields.size() ? m_fields[m_next++] : QByteArray("?"); }
    const QList<QByteArray> &m_fields;
    qsizetype m_next = 1; // after the leading "a"
    bool m_ok = true;
};

std::optional<JobAction> parseAction(const QByteArray &line)
{
    const QList<QByteArray> f = line.split(' ');
    if (f.size() != actionFields || f.first() != "a" || f.last() != ".")
        return std::nullopt;
    ActionReader read(f);
    JobAction a{};
    const qint64 kind = read.number();
    if (kind < 0 || kind > int(JobAction::Kind::Restored))
        return std::nullopt;
    a.kind = JobAction::Kind(kind);
    a.item = int(read.number());
    a.source = read.text();
    a.from = read.text();
    a.to = read.text();
    a.written = read.status();
    a.replaced = read.number() == 1;
    a.trashedAs = read.text();
    a.trashed = read.status();
    a.linkText = read.text();
    if (!read.ok())
        return std::nullopt;
    return a;
}

bool changesFiles(const JobAction &a)
{
    switch (a.kind) {
    case JobAction::Kind::Copied:
    case JobAction::Kind::Replaced:
    case JobAction::Kind::Moved:
    case JobAction::Kind::Removed:
    case JobAction::Kind::Restored:
        return true;
    case JobAction::Kind::SetAside:
    case JobAction::Kind::Kept:
        return false;
    }
    return false;
}

/// Still exactly the file the batch left: the same file, size and modification time.
bool unchangedSince(const FileStatus &now, const FileStatus &written)
{
    return now.sameFileAs(written) && now.type == written.type && now.size == written.size &&
           now.modifiedNs == written.modifiedNs;
}

/// What one item of the batch did, gathered from its actions.
struct ItemDone
{
    QString source;
    QString target;
    FileStatus written;
    bool wroteTarget = false;   ///< a file of the batch stands under the new name
    bool alreadyThere = false;  ///< the new name already was the source's file
    bool sourceRemoved = false; ///< the source's name is gone (moved, or a link removed)
    QString linkText;           ///< the removed source was this link
    QString trashedAs;
    FileStatus trashed;
    QString hidden; ///< where the undo keeps the file while names are put back
};

} // namespace

void UndoHistory::load(FileOperations &files, const QString &path)
{
    QByteArray bytes;
    m_entries.clear();
    if (files.isOrdinaryFile(path) && files.readFile(path, bytes))
        *this = fromBytes(bytes);
}

OpResult UndoHistory::save(FileOperations &files, const QString &path) const
{
    // It names the user's files: for the user's eyes only.
    return files.writeFileAtomically(path, toBytes(), true);
}

bool UndoHistory::push(const JobResult &result)
{
    if (std::none_of(result.record.cbegin(), result.record.cend(), changesFiles))
        return false;
    m_entries.push_back({result.filesDone, result.record});
    // A count of batches, and of actions, so that the file stays small enough to read and
    // write in a moment; the newest batch is always kept.
    size_t actions = 0;
    for (const UndoEntry &entry : m_entries)
        actions += entry.record.size();
    while (m_entries.size() > 1 &&
           (m_entries.size() > size_t(capacity) || actions > size_t(actionCapacity))) {
        actions -= m_entries.front().record.size();
        m_entries.erase(m_entries.begin());
    }
    return true;
}

QByteArray UndoHistory::toBytes() const
{
    QByteArray text;
    size_t actions = 0;
    for (const UndoEntry &entry : m_entries)
        actions += entry.record.size();
    text.reserve(qsizetype(actions) * 160 + 64);
    text += historyHeader;
    text += '\n';
    for (const UndoEntry &entry : m_entries) {
        text += "batch " + QByteArray::number(entry.files) + '\n';
        for (const JobAction &action : entry.record)
            appendAction(text, action);
    }
    return text + "end\n";
}

UndoHistory UndoHistory::fromBytes(const QByteArray &bytes)
{
    UndoHistory history;
    const QList<QByteArray> lines = bytes.split('\n');
    if (lines.isEmpty() || lines.first() != historyHeader)
        return history;
    bool ended = false;
    for (qsizetype i = 1; i < lines.size() && !ended; ++i) {
        const QByteArray &line = lines[i];
        if (line == "end") {
            ended = true;
        } else if (line.startsWith("batch ")) {
            history.m_entries.push_back({line.mid(6).toInt(), {}});
        } else if (const std::optional<JobAction> action = parseAction(line);
                   action && !history.m_entries.empty()) {
            history.m_entries.back().record.push_back(*action);
        } else {
            return {}; // a damaged history is no guide to what is safe to undo
        }
    }
    if (!ended)
        return {};
    while (history.m_entries.size() > size_t(capacity))
        history.m_entries.erase(history.m_entries.begin());
    return history;
}

namespace {

/// An absolute path without "." or ".." parts.
bool plainPath(const QString &path)
{
    if (!path.startsWith(QLatin1Char('/')))
        return false;
    const QStringList parts = path.split(QLatin1Char('/'));
    return !parts.contains(QStringLiteral(".")) && !parts.contains(QStringLiteral(".."));
}

/// A record the undo can trust: what one batch can have written. Its new names lie in one
/// folder and its sources in one folder, trash names under a trash's files/ folder; every path
/// is plain. A damaged or made-up history moves nothing.
bool recordHolds(const std::vector<JobAction> &record)
{
    QSet<QString> targetFolders, sourceFolders;
    for (const JobAction &a : record) {
        for (const QString &path : {a.from, a.to, a.source}) {
            if (!path.isEmpty() && !plainPath(path))
                return false;
        }
        if (!a.source.isEmpty())
            sourceFolders.insert(Paths::folderOf(a.source));
        if (a.kind == JobAction::Kind::Copied || a.kind == JobAction::Kind::Replaced ||
            a.kind == JobAction::Kind::Moved || a.kind == JobAction::Kind::Kept)
            targetFolders.insert(Paths::folderOf(a.to));
        // A kept file lies in the target folder.
        if (a.kind == JobAction::Kind::SetAside)
            targetFolders.insert(Paths::folderOf(a.to));
        if (!a.trashedAs.isEmpty() &&
            (!plainPath(a.trashedAs) ||
             !Paths::folderOf(a.trashedAs).endsWith(QStringLiteral("/files"))))
            return false;
    }
    if (targetFolders.size() > 1 || sourceFolders.size() > 1)
        return false;
    // A content brought back after a stop goes home to a source of this batch; both names lie
    // in the batch's folders.
    const auto inBatch = [&](const QString &path) {
        const QString folder = Paths::folderOf(path);
        return sourceFolders.contains(folder) || targetFolders.contains(folder);
    };
    for (const JobAction &a : record) {
        if (a.kind == JobAction::Kind::Restored &&
            (a.from != a.source || !inBatch(a.from) || !inBatch(a.to)))
            return false;
    }
    return true;
}

/// Temporaries of an undo's copy back to another drive, under the journal's hidden prefix.
class TemporaryBack final : public TemporaryNames
{
public:
    TemporaryBack(const BatchJournal &journal, int serial) : m_journal(journal), m_serial(serial) {}
    QString next() override
    {
        return m_journal.hiddenPrefix() + QStringLiteral("back-%1.part").arg(++m_serial);
    }

private:
    const BatchJournal &m_journal;
    int m_serial;
};

} // namespace

UndoReport undoBatch(FileOperations &files, const UndoEntry &entry, const QString &journalFolder,
                     const std::function<void()> &keepAlive)
{
    UndoReport report;
    const auto leave = [&](const QString &path, const QString &why) {
        report.leftAlone.append(FileNames::display(path) + QStringLiteral(": ") + why);
    };
    int steps = 0;
    const auto nowAndThen = [&] {
        if (keepAlive && ++steps % 256 == 0)
            keepAlive();
    };
    if (!recordHolds(entry.record)) {
        report.leftAlone.append(
            QStringLiteral("元に戻す記録が壊れているため、何も変更していません。"));
        return report;
    }

    std::map<int, ItemDone> items;
    std::vector<JobAction> restored;
    QString targetFolder;
    for (const JobAction &a : entry.record) {
        if (a.kind == JobAction::Kind::Restored) {
            restored.push_back(a);
            continue;
        }
        if (a.item < 0)
            continue;
        ItemDone &item = items[a.item];
        item.source = a.source;
        switch (a.kind) {
        case JobAction::Kind::Copied:
        case JobAction::Kind::Replaced:
        case JobAction::Kind::Moved:
            item.target = a.to;
            item.written = a.written;
            item.wroteTarget = true;
            item.trashedAs = a.trashedAs;
            item.trashed = a.trashed;
            if (a.kind == JobAction::Kind::Moved && a.from == a.source)
                item.sourceRemoved = true;
            if (a.from == a.to && !a.linkText.isEmpty())
                item.linkText = a.linkText; // a link replaced by what it showed
            targetFolder = Paths::folderOf(a.to);
            break;
        case JobAction::Kind::Kept:
            item.target = a.to;
            item.written = a.written;
            item.alreadyThere = true;
            break;
        case JobAction::Kind::Removed:
            if (a.from == a.source) {
                item.sourceRemoved = true;
                item.linkText = a.linkText;
            }
            break;
        case JobAction::Kind::SetAside:
        case JobAction::Kind::Restored:
            break;
        }
    }

    // The batch's folders, opened once: every step below works in them.
    QString sourceFolder = targetFolder;
    for (const auto &[index, item] : items) {
        if (!item.source.isEmpty()) {
            sourceFolder = Paths::folderOf(item.source);
            break;
        }
    }
    if (targetFolder.isEmpty())
        targetFolder = sourceFolder;
    BatchFolders folders;
    if (targetFolder.isEmpty())
        return report; // nothing the batch wrote
    for (const auto &[path, folder] :
         {std::pair{targetFolder, &folders.target}, std::pair{sourceFolder, &folders.source}}) {
        if (const OpResult opened = files.openFolder(path, *folder); !opened) {
            leave(path, opened.error);
            return report;
        }
    }
    const auto at = [&](const QString &path) {
        const QString folder = Paths::folderOf(path);
        const OpenFolder &open = folder == targetFolder ? folders.target : folders.source;
        return std::pair<const OpenFolder &, QString>{open, path.mid(path.lastIndexOf('/') + 1)};
    };
    const auto statusOf = [&](const QString &path) {
        const auto [folder, name] = at(path);
        return files.status(folder, name, false);
    };
    const auto exists = [&](const QString &path) { return statusOf(path).exists(); };
    const auto rename = [&](const QString &from, const QString &to) {
        const auto [fromFolder, fromName] = at(from);
        const auto [toFolder, toName] = at(to);
        return files.renameNoReplace(fromFolder, fromName, toFolder, toName);
    };

    // The files to take out of the way first, each under a hidden name the journal knows,
    // together with where its content goes home (the source's name, when this undo frees it or
    // the batch took it) and the replaced file that comes back under its name. A recovery of an
    // undo cut short finishes each item or puts it back, in the batch's own order.
    BatchJournal journal = BatchJournal::begin(folders.source, folders.target);
    journal.kind = BatchJournal::Kind::Undo;
    QSet<QString> toFree;
    for (const auto &[index, item] : items) {
        if (item.wroteTarget && unchangedSince(statusOf(item.target), item.written))
            toFree.insert(item.target);
    }
    const int nameMax = files.nameMax(folders.target);
    int serial = 0;
    for (auto &[index, item] : items) {
        if (!item.wroteTarget)
            continue;
        if (!toFree.contains(item.target)) {
            leave(item.target,
                  QStringLiteral("リネームの後に変更されたため、そのままにしました。"));
            continue;
        }
        const bool goesHome =
            item.linkText.isEmpty() && (item.sourceRemoved || toFree.contains(item.source));
        item.hidden = journal.keptName(++serial,
                                       Paths::folderOf(item.source) == sourceFolder
                                           ? item.source.mid(item.source.lastIndexOf('/') + 1)
                                           : QString(),
                                       nameMax);
        journal.kept.push_back({folders.target.pathOf(item.hidden), item.source, item.target,
                                item.trashedAs, item.trashed, goesHome});
    }
    const QString journalPath = BatchJournal::pathIn(journalFolder, journal.id);
    const bool journaled = !journal.kept.empty();
    if (journaled) {
        if (const OpResult written = files.writeJournal(journalPath, journal.toBytes()); !written) {
            leave(journalPath, written.error);
            return report;
        }
    }
    report.started = true;

    // 1. Every name the batch wrote is freed.
    QSet<QString> freed;
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
        ItemDone &item = it->second;
        if (item.hidden.isEmpty())
            continue;
        nowAndThen();
        const auto [folder, name] = at(item.target);
        if (const OpResult moved = files.renameNoReplace(folder, name, folders.target, item.hidden);
            !moved) {
            leave(item.target, moved.error);
            item.hidden.clear();
        } else {
            freed.insert(item.target);
        }
    }
    // 2. Files the batch replaced come back from the trash.
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
        const ItemDone &item = it->second;
        if (item.trashedAs.isEmpty())
            continue;
        if (item.hidden.isEmpty()) {
            leave(item.trashedAs,
                  QStringLiteral("元の名前が使われているため、ごみ箱に残しました。"));
            continue;
        }
        // Only the very file the batch put there comes back.
        if (!unchangedSince(files.status(item.trashedAs, false), item.trashed)) {
            leave(item.trashedAs, QStringLiteral("ごみ箱の中のファイルが置き換えたものと違うため、"
                                                 "そのままにしました。"));
            continue;
        }
        nowAndThen();
        const auto [folder, name] = at(item.target);
        if (const OpResult back = files.restoreFromTrash(item.trashedAs, folder, name); !back)
            leave(item.trashedAs, back.error);
    }
    // 3. Contents a stopped batch brought back beside their names go home.
    for (auto it = restored.rbegin(); it != restored.rend(); ++it) {
        if (it->to == it->from || !exists(it->to))
            continue;
        if (exists(it->from))
            leave(it->to, QStringLiteral("元の名前が使われているため、そのままにしました。"));
        else if (const OpResult back = rename(it->to, it->from); !back)
            leave(it->to, back.error);
    }
    // 4. Each content back under its source's name; copies whose source is still there go.
    const OpenFolder &target = folders.target;
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
        ItemDone &item = it->second;
        const auto [sourceFolderOpen, sourceName] = at(item.source);
        if (item.alreadyThere && item.sourceRemoved) {
            // The source was a second name of the new name's file: make that name again.
            const auto [targetFolderOpen, targetName] = at(item.target);
            if (exists(item.source)) {
                leave(item.source,
                      QStringLiteral("同じ名前のファイルがあるため、作り直せません。"));
            } else if (!unchangedSince(statusOf(item.target), item.written)) {
                leave(item.target,
                      QStringLiteral("リネームの後に変更されたため、そのままにしました。"));
            } else if (const OpResult made = item.linkText.isEmpty()
                                                 ? files.makeHardLink(targetFolderOpen, targetName,
                                                                      sourceFolderOpen, sourceName)
                                                 : files.makeSymbolicLink(
                                                       item.linkText, sourceFolderOpen, sourceName);
                       !made) {
                leave(item.source, made.error);
            } else {
                ++report.undone;
            }
            continue;
        }
        if (item.hidden.isEmpty())
            continue;
        // The source's name is free because the batch took it (moved it, or wrote over it);
        // a source the user removed since is not made again.
        const bool sourceFree =
            !exists(item.source) && (item.sourceRemoved || freed.contains(item.source));
        nowAndThen();
        OpResult done;
        if (sourceFree && !item.linkText.isEmpty()) {
            // A moved link is made again; the copy of what it showed goes only while the link
            // still shows the very same bytes.
            done = files.makeSymbolicLink(item.linkText, sourceFolderOpen, sourceName);
            if (done && files.sameContent(sourceFolderOpen, sourceName, target, item.hidden))
                done = files.removeFile(target, item.hidden);
            else if (done)
                done = OpResult::failure(
                    QStringLiteral("リンク先の内容が変わっているため、新しい名前にも残しました。"));
        } else if (sourceFree) {
            done = files.renameNoReplace(target, item.hidden, sourceFolderOpen, sourceName);
            if (!done && files.status(target, item.hidden, false).exists() &&
                !exists(item.source)) {
                // Back to another drive: the move copies, then removes its hidden file.
                TemporaryBack temporaries(journal, steps);
                done = files.moveFile(target, item.hidden, sourceFolderOpen, sourceName,
                                      WriteOptions(&temporaries, true));
            }
        } else if (files.sameContent(target, item.hidden, sourceFolderOpen, sourceName)) {
            done = files.removeFile(target, item.hidden); // a copy of what the source still holds
        } else if (!exists(item.source)) {
            done = OpResult::failure(
                QStringLiteral("元のファイルがなくなっているため、新しい名前に残しました。"));
        } else {
            done = OpResult::failure(
                QStringLiteral("元の名前に別の内容があるため、新しい名前に残しました。"));
        }
        if (done) {
            item.hidden.clear();
            ++report.undone;
        } else {
            leave(item.source, done.error);
        }
    }

    // Whatever is still hidden stays in sight, under its new name or beside it.
    if (journaled) {
        report.recovery = recoverBatch(files, journal, {}, &folders);
        if (report.recovery.problems.isEmpty())
            files.finishJournal(journalPath);
        else
            files.releaseJournal(journalPath);
    }
    return report;
}

QString undoQuestion(const UndoEntry &entry)
{
    return QStringLiteral("直前のリネーム（%1 件）を元に戻しますか？").arg(entry.files);
}

QString undoMessage(const UndoReport &report)
{
    QString text = QStringLiteral("リネームを元に戻しました（%1 件）。").arg(report.undone);
    if (!report.leftAlone.isEmpty()) {
        text += QStringLiteral("\r\n元に戻せなかったもの:");
        for (const QString &line : report.leftAlone)
            text += QStringLiteral("\r\n") + line;
    }
    return text + restoredLines(report.recovery);
}
