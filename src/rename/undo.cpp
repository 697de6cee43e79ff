#include "undo.h"

#include "filenames.h"
#include "paths.h"

#include <QSet>

#include <map>

namespace {

constexpr char historyHeader[] = "kaenami undo history 1";
constexpr int actionFields = 16;

QByteArray field(const QString &text)
{
    return FileNames::encode(text).toPercentEncoding("/");
}

QString unfield(const QByteArray &text)
{
    return FileNames::decode(QByteArray::fromPercentEncoding(text));
}

QByteArray actionLine(const JobAction &a)
{
    const FileStatus &w = a.written;
    QList<QByteArray> fields{"a",
                             QByteArray::number(int(a.kind)),
                             QByteArray::number(a.item),
                             field(a.source),
                             field(a.from),
                             field(a.to),
                             QByteArray::number(int(w.type)),
                             QByteArray::number(w.device),
                             QByteArray::number(w.inode),
                             QByteArray::number(w.size),
                             QByteArray::number(w.modifiedNs),
                             QByteArray::number(w.links),
                             a.replaced ? "1" : "0",
                             field(a.trashedAs),
                             field(a.linkText),
                             "."};
    return fields.join(' ');
}

std::optional<JobAction> parseAction(const QByteArray &line)
{
    const QList<QByteArray> f = line.split(' ');
    if (f.size() != actionFields || f[0] != "a" || f[15] != ".")
        return std::nullopt;
    bool ok = true;
    const auto number = [&](const QByteArray &text) {
        bool good = false;
        const qlonglong value = text.toLongLong(&good);
        ok = ok && good;
        return value;
    };
    const auto unsignedNumber = [&](const QByteArray &text) {
        bool good = false;
        const qulonglong value = text.toULongLong(&good);
        ok = ok && good;
        return value;
    };
    JobAction a{};
    const qlonglong kind = number(f[1]);
    const qlonglong type = number(f[6]);
    if (kind < 0 || kind > int(JobAction::Kind::Restored) || type < 0 ||
        type > int(FileStatus::Type::Other))
        return std::nullopt;
    a.kind = JobAction::Kind(kind);
    a.item = int(number(f[2]));
    a.source = unfield(f[3]);
    a.from = unfield(f[4]);
    a.to = unfield(f[5]);
    a.written.type = FileStatus::Type(type);
    a.written.device = unsignedNumber(f[7]);
    a.written.inode = unsignedNumber(f[8]);
    a.written.size = number(f[9]);
    a.written.modifiedNs = number(f[10]);
    a.written.links = unsignedNumber(f[11]);
    a.replaced = f[12] == "1";
    a.trashedAs = unfield(f[13]);
    a.linkText = unfield(f[14]);
    if (!ok)
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
    return files.writeFileAtomically(path, toBytes());
}

bool UndoHistory::push(const JobResult &result)
{
    if (std::none_of(result.record.cbegin(), result.record.cend(), changesFiles))
        return false;
    m_entries.push_back({result.filesDone, result.record});
    while (m_entries.size() > size_t(capacity))
        m_entries.erase(m_entries.begin());
    return true;
}

QByteArray UndoHistory::toBytes() const
{
    QByteArray text = QByteArray(historyHeader) + '\n';
    for (const UndoEntry &entry : m_entries) {
        text += "batch " + QByteArray::number(entry.files) + '\n';
        for (const JobAction &action : entry.record)
            text += actionLine(action) + '\n';
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

UndoReport undoBatch(FileOperations &files, const UndoEntry &entry, const QString &journalFolder)
{
    UndoReport report;
    const auto leave = [&](const QString &path, const QString &why) {
        report.leftAlone.append(FileNames::display(path) + QStringLiteral(": ") + why);
    };

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

    // The files to take out of the way first, each under a hidden name the journal knows.
    BatchJournal journal = BatchJournal::begin(targetFolder, targetFolder);
    int serial = 0;
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
        ItemDone &item = it->second;
        if (!item.wroteTarget)
            continue;
        if (!unchangedSince(files.status(item.target, false), item.written)) {
            leave(item.target,
                  QStringLiteral("リネームの後に変更されたため、そのままにしました。"));
            continue;
        }
        item.hidden = journal.keptPath(++serial);
        journal.kept.push_back({item.hidden, item.target, item.source});
    }
    const QString journalPath = BatchJournal::pathIn(journalFolder, journal.id);
    const bool journaled = !journal.kept.empty();
    if (journaled) {
        if (const OpResult written = files.writeJournal(journalPath, journal.toBytes()); !written) {
            leave(journalPath, written.error);
            return report;
        }
    }

    // 1. Every name the batch wrote is freed.
    QSet<QString> freed;
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
        ItemDone &item = it->second;
        if (item.hidden.isEmpty())
            continue;
        if (const OpResult moved = files.renameNoReplace(item.target, item.hidden); !moved) {
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
        if (const OpResult back = files.restoreFromTrash(item.trashedAs, item.target); !back)
            leave(item.trashedAs, back.error);
    }
    // 3. Contents a stopped batch brought back beside their names go home.
    for (auto it = restored.rbegin(); it != restored.rend(); ++it) {
        if (it->to == it->from || !files.status(it->to, false).exists())
            continue;
        if (files.status(it->from, false).exists())
            leave(it->to, QStringLiteral("元の名前が使われているため、そのままにしました。"));
        else if (const OpResult back = files.renameNoReplace(it->to, it->from); !back)
            leave(it->to, back.error);
    }
    // 4. Each content back under its source's name; copies whose source is still there go.
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
        ItemDone &item = it->second;
        if (item.alreadyThere && item.sourceRemoved) {
            // The source was a second name of the new name's file: make that name again.
            if (files.status(item.source, false).exists()) {
                leave(item.source,
                      QStringLiteral("同じ名前のファイルがあるため、作り直せません。"));
            } else if (!unchangedSince(files.status(item.target, false), item.written)) {
                leave(item.target,
                      QStringLiteral("リネームの後に変更されたため、そのままにしました。"));
            } else if (const OpResult made =
                           item.linkText.isEmpty()
                               ? files.makeHardLink(item.target, item.source)
                               : files.makeSymbolicLink(item.linkText, item.source);
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
        const bool sourceFree = !files.status(item.source, false).exists() &&
                                (item.sourceRemoved || freed.contains(item.source));
        OpResult done;
        if (sourceFree && !item.linkText.isEmpty()) {
            // A moved link is made again; the copy of what it showed is not needed.
            done = files.makeSymbolicLink(item.linkText, item.source);
            if (done)
                done = files.removeFile(item.hidden);
        } else if (sourceFree) {
            done = files.renameNoReplace(item.hidden, item.source);
        } else if (files.sameContent(item.hidden, item.source)) {
            done = files.removeFile(item.hidden); // a copy of what the source still holds
        } else if (!files.status(item.source, false).exists()) {
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
        report.recovery = recoverBatch(files, journal);
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
