#include "undo.h"

#include "filenames.h"
#include "paths.h"
#include "trash.h"

#include <QCryptographicHash>
#include <QDate>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <map>
#include <tuple>

namespace {

constexpr char historyHeader[] = "kaenami undo history 2";
constexpr char historyEnd[] = "end\n";
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

/// An action with full paths, as the history file holds it and the undo works with it.
struct PathAction
{
    JobAction::Kind kind = JobAction::Kind::Copied;
    int item = -1;
    QString source;
    QString from;
    QString to;
    FileStatus written;
    bool replaced = false;
    QString trashedAs;
    FileStatus trashed;
    QString linkText;
};

PathAction pathsOf(const JobRecordFolders &folders, const JobAction &a)
{
    return {a.kind,    a.item,     folders.sourcePath(a), folders.fromPath(a), folders.toPath(a),
            a.written, a.replaced, a.trashedAs(),         a.trashed(),         a.linkText};
}

void appendAction(QByteArray &out, const PathAction &a)
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

std::optional<PathAction> parseAction(QByteArrayView line)
{
    const QList<QByteArray> f = line.toByteArray().split(' ');
    if (f.size() != actionFields || f.first() != "a" || f.last() != ".")
        return std::nullopt;
    ActionReader read(f);
    PathAction a{};
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
bool recordHolds(const std::vector<PathAction> &record)
{
    QSet<QString> targetFolders, sourceFolders;
    for (const PathAction &a : record) {
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
    for (const PathAction &a : record) {
        if (a.kind == JobAction::Kind::Restored &&
            (a.from != a.source || !inBatch(a.from) || !inBatch(a.to)))
            return false;
    }
    return true;
}

QString nameOf(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

/// The batch of `raw` actions in the record's own form: names in its two folders. A record
/// that no batch can have written is kept as damaged, to be refused by its undo.
void takeRecord(const std::vector<PathAction> &raw, UndoEntry &entry)
{
    entry.record.clear();
    entry.damaged = !recordHolds(raw);
    if (entry.damaged)
        return;
    for (const PathAction &a : raw) {
        if (!a.source.isEmpty())
            entry.folders.source = Paths::folderOf(a.source);
        if (a.kind != JobAction::Kind::Removed && a.kind != JobAction::Kind::Restored &&
            !a.to.isEmpty())
            entry.folders.target = Paths::folderOf(a.to);
    }
    if (entry.folders.target.isEmpty())
        entry.folders.target = entry.folders.source;
    const auto placeOf = [&](const QString &path, JobAction::Place &place) {
        if (path.isEmpty())
            return true;
        const QString folder = Paths::folderOf(path);
        place =
            folder == entry.folders.target ? JobAction::Place::Target : JobAction::Place::Source;
        return folder == entry.folders.target || folder == entry.folders.source;
    };
    entry.record.reserve(raw.size());
    for (const PathAction &a : raw) {
        JobAction action;
        action.kind = a.kind;
        action.item = a.item;
        action.replaced = a.replaced;
        action.written = a.written;
        action.linkText = a.linkText;
        action.source = nameOf(a.source);
        action.from = nameOf(a.from);
        action.to = nameOf(a.to);
        if (!placeOf(a.from, action.fromPlace) || !placeOf(a.to, action.toPlace) ||
            (!a.source.isEmpty() && Paths::folderOf(a.source) != entry.folders.source)) {
            entry.damaged = true;
            entry.record.clear();
            return;
        }
        if (!a.trashedAs.isEmpty())
            action.inTrash = std::make_shared<const JobAction::InTrash>(a.trashedAs, a.trashed);
        entry.record.push_back(std::move(action));
    }
}

/// A batch's id: a random token, or one derived from the batch's bytes for a batch written
/// without one. Letters and digits only, so it is one field of the batch line.
QByteArray newId()
{
    return QByteArray::number(QRandomGenerator::system()->generate64(), 36);
}

QByteArray derivedId(QByteArrayView bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().left(16);
}

bool plainId(QByteArrayView id)
{
    return !id.isEmpty() && id.size() <= 64 && std::all_of(id.cbegin(), id.cend(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z');
    });
}

/// "batch <files> <id> <source device>:<inode> <target device>:<inode>"; histories written
/// before ids and identities read without them.
bool parseBatchLine(QByteArrayView line, UndoEntry &entry)
{
    const QList<QByteArray> f = line.toByteArray().split(' ');
    if (f.size() != 2 && f.size() != 3 && f.size() != 5)
        return false;
    bool good = false;
    entry.files = f[1].toInt(&good);
    if (!good || entry.files < 0)
        return false;
    if (f.size() >= 3) {
        if (!plainId(f[2]))
            return false;
        entry.id = f[2];
    }
    if (f.size() == 5) {
        const auto identity = [&](const QByteArray &field, quint64 &device, quint64 &inode) {
            const QList<QByteArray> parts = field.split(':');
            bool deviceGood = false, inodeGood = false;
            if (parts.size() == 2) {
                device = parts[0].toULongLong(&deviceGood);
                inode = parts[1].toULongLong(&inodeGood);
            }
            return deviceGood && inodeGood;
        };
        if (!identity(f[3], entry.folders.sourceDevice, entry.folders.sourceInode) ||
            !identity(f[4], entry.folders.targetDevice, entry.folders.targetInode))
            return false;
    }
    return true;
}

QByteArray batchLine(const UndoEntry &entry)
{
    const JobRecordFolders &folders = entry.folders;
    return "batch " + QByteArray::number(entry.files) + ' ' + entry.id + ' ' +
           QByteArray::number(folders.sourceDevice) + ':' +
           QByteArray::number(folders.sourceInode) + ' ' +
           QByteArray::number(folders.targetDevice) + ':' +
           QByteArray::number(folders.targetInode) + '\n';
}

/// One batch as the file holds it: its batch line and its actions.
QByteArray entryBytes(const UndoEntry &entry)
{
    QByteArray text;
    text.reserve(qsizetype(entry.record.size()) * 160 + 64);
    text += batchLine(entry);
    for (const JobAction &action : entry.record)
        appendAction(text, pathsOf(entry.folders, action));
    return text;
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

/// The time a drive keeps when given `given`: many keep less than nanoseconds (FAT two
/// seconds, exFAT and HFS+ one second or ten milliseconds, NTFS 100 ns) and cut the rest off.
bool keptTimeOf(qint64 kept, qint64 given)
{
    if (kept == given)
        return true;
    for (const qint64 step : {qint64(100), qint64(1000), qint64(10'000'000), qint64(1'000'000'000),
                              qint64(2'000'000'000)}) {
        const qint64 down = given - ((given % step) + step) % step;
        if (kept == down)
            return true;
    }
    return false;
}

/// Still exactly the file the batch left: the same file, size and modification time (as the
/// drive keeps it: a copy's time is recorded as it was given). Where the drive numbers its
/// files anew at each mounting (`identities` false), size and time alone tell; what the undo
/// then does with the file is checked again (a copy goes only while it holds its source's
/// bytes, a moved file only goes back to a free name).
bool unchangedSince(const FileStatus &now, const FileStatus &written, bool identities = true)
{
    return (identities ? now.sameFileAs(written) : now.exists() && written.exists()) &&
           now.type == written.type && now.size == written.size &&
           keptTimeOf(now.modifiedNs, written.modifiedNs);
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

bool UndoHistory::worthKeeping(const JobResult &result)
{
    return std::any_of(result.record.cbegin(), result.record.cend(), changesFiles);
}

bool UndoHistory::push(const JobResult &result)
{
    if (!worthKeeping(result))
        return false;
    Stored batch = stored({newId(), result.filesDone, result.folders, result.record});
    // Over the limit on its own, it would push everything else out and still be too large to
    // be read back.
    if (headerLine().size() + batch.text.size() + qsizetype(sizeof historyEnd) - 1 > byteCapacity)
        return false;
    m_entries.push_back(std::move(batch));
    fit();
    return true;
}

UndoHistory::Stored UndoHistory::stored(UndoEntry entry)
{
    Stored batch;
    batch.text = entryBytes(entry);
    batch.actions = entry.record.size();
    batch.entry = std::move(entry);
    return batch;
}

void UndoHistory::add(UndoEntry entry)
{
    m_entries.push_back(stored(std::move(entry)));
    fit();
}

void UndoHistory::restore(UndoEntry entry, const std::vector<QByteArray> &older)
{
    auto place = m_entries.begin();
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (std::find(older.cbegin(), older.cend(), it->entry.id) != older.cend())
            place = it + 1;
    }
    m_entries.insert(place, stored(std::move(entry)));
    fit();
}

void UndoHistory::dropNewest()
{
    m_entries.pop_back();
    readNewest();
}

std::vector<QByteArray> UndoHistory::ids() const
{
    std::vector<QByteArray> ids;
    ids.reserve(m_entries.size());
    for (const Stored &batch : m_entries)
        ids.push_back(batch.entry.id);
    return ids;
}

void UndoHistory::fit()
{
    // Counts of batches, actions and bytes, so that the file stays small enough to read and
    // write in a moment; the newest batch is kept unless it alone is over the byte limit.
    size_t actions = 0;
    qint64 bytes = headerLine().size() + qsizetype(sizeof historyEnd) - 1;
    for (const Stored &batch : m_entries) {
        actions += batch.actions;
        bytes += batch.text.size();
    }
    size_t dropped = 0;
    while (m_entries.size() - dropped > 1 &&
           (m_entries.size() - dropped > size_t(capacity) || actions > size_t(actionCapacity) ||
            bytes > byteCapacity)) {
        actions -= m_entries[dropped].actions;
        bytes -= m_entries[dropped].text.size();
        ++dropped;
    }
    if (m_entries.size() - dropped == 1 && bytes > byteCapacity)
        ++dropped;
    m_entries.erase(m_entries.begin(), m_entries.begin() + qsizetype(dropped));
    readNewest();
}

bool UndoHistory::readNewest()
{
    if (m_entries.empty() || m_entries.back().read)
        return true;
    Stored &batch = m_entries.back();
    batch.read = true;
    // After the batch line, every line is an action.
    const QByteArray &text = batch.text;
    std::vector<PathAction> raw;
    raw.reserve(batch.actions);
    qsizetype at = text.indexOf('\n') + 1;
    while (at > 0 && at < text.size()) {
        qsizetype lineEnd = text.indexOf('\n', at);
        if (lineEnd < 0)
            lineEnd = text.size();
        const std::optional<PathAction> action =
            parseAction(QByteArrayView(text.constData() + at, lineEnd - at));
        if (!action) {
            batch.entry.damaged = true;
            batch.entry.record.clear();
            return false;
        }
        raw.push_back(*action);
        at = lineEnd + 1;
    }
    takeRecord(raw, batch.entry);
    return true;
}

QByteArray UndoHistory::headerLine()
{
    return QByteArray(historyHeader) + '\n';
}

QByteArray UndoHistory::toBytes() const
{
    QByteArray text = headerLine();
    qsizetype size = text.size() + qsizetype(sizeof historyEnd);
    for (const Stored &batch : m_entries)
        size += batch.text.size();
    text.reserve(size);
    for (const Stored &batch : m_entries)
        text += batch.text;
    return text + historyEnd;
}

UndoHistory UndoHistory::fromBytes(const QByteArray &bytes)
{
    return parse(bytes).value_or(UndoHistory{});
}

namespace {

/// The shape of an action line, checked without reading its fields: older batches are read
/// only when they become the newest.
bool actionShaped(QByteArrayView line)
{
    return line.startsWith("a ") && line.endsWith(" .") &&
           std::count(line.cbegin(), line.cend(), ' ') == actionFields - 1;
}

} // namespace

std::optional<UndoHistory> UndoHistory::parse(const QByteArray &bytes)
{
    UndoHistory history;
    const QByteArray header = headerLine();
    if (!bytes.startsWith(header))
        return std::nullopt;
    // Line by line in place: the file may be large, and a copy of every line would double it.
    qsizetype at = header.size();
    qsizetype entryStart = -1;
    const auto closeEntry = [&](qsizetype end) {
        if (entryStart < 0)
            return;
        Stored &batch = history.m_entries.back();
        batch.text = bytes.sliced(entryStart, end - entryStart);
        if (batch.entry.id.isEmpty())
            batch.entry.id = derivedId(batch.text);
    };
    bool ended = false;
    while (at < bytes.size() && !ended) {
        qsizetype lineEnd = bytes.indexOf('\n', at);
        if (lineEnd < 0)
            lineEnd = bytes.size();
        const QByteArrayView line(bytes.constData() + at, lineEnd - at);
        if (line == "end") {
            closeEntry(at);
            ended = true;
        } else if (line.startsWith("batch ")) {
            closeEntry(at);
            Stored batch;
            batch.read = false;
            if (!parseBatchLine(line, batch.entry))
                return std::nullopt;
            history.m_entries.push_back(std::move(batch));
            entryStart = at;
        } else if (actionShaped(line) && !history.m_entries.empty()) {
            ++history.m_entries.back().actions;
        } else {
            return std::nullopt;
        }
        at = lineEnd + 1;
    }
    if (!ended)
        return std::nullopt;
    // Ids tell batches apart: two alike (written without ids, byte for byte the same) are
    // numbered.
    QSet<QByteArray> seen;
    for (Stored &batch : history.m_entries) {
        UndoEntry &entry = batch.entry;
        const QByteArray id = entry.id;
        for (int n = 2; seen.contains(entry.id); ++n)
            entry.id = id + 'x' + QByteArray::number(n);
        seen.insert(entry.id);
        // The file keeps the id the batch is known by from now on.
        const qsizetype lineEnd = batch.text.indexOf('\n') + 1;
        const QList<QByteArray> fields = batch.text.first(lineEnd - 1).split(' ');
        if (fields.size() < 3 || fields[2] != entry.id)
            batch.text = batchLine(entry) + batch.text.sliced(lineEnd);
    }
    while (history.m_entries.size() > size_t(capacity))
        history.m_entries.erase(history.m_entries.begin());
    // A newest batch that does not read is kept as damaged (its undo moves nothing), as it is
    // when it becomes the newest later: the batches before it stay.
    history.readNewest();
    return history;
}

UndoHistoryFile::UndoHistoryFile(FileOperations &files, QString path)
    : m_files(files), m_path(std::move(path))
{}

QString UndoHistoryFile::temporaryPath(const QString &path)
{
    return path + QStringLiteral(".part");
}

OpResult UndoHistoryFile::read(UndoHistory &history)
{
    return change(false, [&](UndoHistory &now) {
        history = now;
        return false;
    });
}

OpResult UndoHistoryFile::record(const JobResult &result)
{
    if (!UndoHistory::worthKeeping(result))
        return OpResult::success();
    UndoHistory alone;
    if (!alone.push(result))
        return OpResult::failure(QStringLiteral("記録が大きすぎます（%1 MiB まで）。")
                                     .arg(UndoHistory::byteCapacity >> 20));
    return change(true, [&](UndoHistory &now) {
        now.add(alone.newest());
        return true;
    });
}

UndoHistoryFile::Claim UndoHistoryFile::claimNewest(const QByteArray &id, Claimed &claimed,
                                                    OpResult &failure)
{
    bool taken = false;
    failure = change(false, [&](UndoHistory &now) {
        if (now.isEmpty() || now.newest().id != id)
            return false;
        claimed.entry = now.newest();
        claimed.older = now.ids();
        claimed.older.pop_back();
        now.dropNewest();
        taken = true;
        return true;
    });
    if (!failure)
        return Claim::Failed;
    return taken ? Claim::Taken : Claim::NoLongerNewest;
}

OpResult UndoHistoryFile::putBack(const Claimed &claimed)
{
    return change(true, [&](UndoHistory &now) {
        now.restore(claimed.entry, claimed.older);
        return true;
    });
}

OpResult UndoHistoryFile::change(bool create, const std::function<bool(UndoHistory &)> &edit)
{
    // A damaged file set aside frees the name: the change starts again on a new history.
    for (int attempt = 0; attempt < 10; ++attempt) {
        FileStatus locked;
        if (OpResult lockedNow = m_files.lockSharedFile(m_path, create, locked); !lockedNow)
            return lockedNow;
        const auto unlock = qScopeGuard([&] { m_files.unlockSharedFile(m_path); });
        UndoHistory history;
        bool damaged = false;
        if (locked.exists()) {
            if (OpResult read = readLocked(locked, history, damaged); !read)
                return read;
        }
        if (damaged) {
            if (OpResult setAside = setAsideDamaged(); !setAside)
                return setAside;
            continue;
        }
        const bool changed = edit(history);
        if (changed && locked.exists()) {
            if (OpResult written =
                    m_files.replaceLockedFile(m_path, history.toBytes(), temporaryPath(m_path));
                !written)
                return written;
        }
        // What a caller may tell of the file: what it holds now.
        m_batches = history.size();
        return OpResult::success();
    }
    return OpResult::failure(systemErrorText(EAGAIN), m_path);
}

OpResult UndoHistoryFile::readLocked(const FileStatus &locked, UndoHistory &history, bool &damaged)
{
    // An empty file is an empty history (one made for its lock).
    if (locked.size == 0)
        return OpResult::success();
    // Header and size first: a large or foreign file is never read into memory.
    damaged = true;
    if (locked.size > UndoHistory::byteCapacity)
        return OpResult::success();
    const QByteArray header = UndoHistory::headerLine();
    QByteArray bytes;
    if (OpResult read = m_files.readLockedFile(m_path, header.size(), bytes); !read)
        return read;
    if (bytes != header)
        return OpResult::success();
    if (OpResult read = m_files.readLockedFile(m_path, UndoHistory::byteCapacity, bytes); !read)
        return read;
    std::optional<UndoHistory> parsed = UndoHistory::parse(bytes);
    if (!parsed)
        return OpResult::success();
    history = std::move(*parsed);
    damaged = false;
    return OpResult::success();
}

OpResult UndoHistoryFile::setAsideDamaged()
{
    // A visible name, so the user finds it; never over another.
    const QString folder = Paths::folderOf(m_path);
    const QString stem = QStringLiteral("kaenami-undo-damaged-") +
                         QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    OpResult moved;
    for (int n = 1; n <= 100; ++n) {
        const QString name =
            Paths::join(folder, stem + (n == 1 ? QString() : QStringLiteral("-%1").arg(n)) +
                                    QStringLiteral(".txt"));
        if (m_files.status(name, false).exists())
            continue;
        moved = m_files.renameNoReplace(m_path, name);
        if (moved) {
            m_setAside.append(name);
            return moved;
        }
        if (!m_files.status(name, false).exists())
            break;
    }
    return OpResult::failure(
        QStringLiteral("壊れていますが、別の名前に移せませんでした。") + moved.error, m_path);
}

QString UndoHistoryFile::takeSetAsideNote()
{
    QString note;
    for (const QString &name : std::as_const(m_setAside))
        note += (note.isEmpty() ? QString() : QStringLiteral("\r\n")) +
                QStringLiteral("元に戻す記録が壊れていたため、%1 として残しました。")
                    .arg(FileNames::display(name));
    m_setAside.clear();
    return note;
}

void UndoHistoryFile::removeLeftovers(FileOperations &files, const QString &folder)
{
    const QString path = Paths::join(folder, QLatin1String(UndoHistory::fileName));
    const QString temporary = temporaryPath(path);
    if (files.status(temporary, false).type != FileStatus::Type::Regular)
        return;
    // Only a change holding the lock writes it: under the lock, it is a killed change's.
    FileStatus locked;
    if (!files.lockSharedFile(path, false, locked))
        return;
    if (files.status(temporary, false).type == FileStatus::Type::Regular)
        files.removeFile(temporary);
    files.unlockSharedFile(path);
}

QString historyRefusedMessage(const OpResult &failure)
{
    return QStringLiteral("元に戻す記録 %1 は使えません。\r\n理由: %2")
        .arg(FileNames::display(failure.path), failure.error);
}

QString undoChangedMessage()
{
    return QStringLiteral("確かめている間に、直前のリネームが変わりました（ほかのウィンドウで"
                          "元に戻したか、リネームしたため）。何も元に戻していません。");
}

namespace {

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
    std::vector<PathAction> record;
    record.reserve(entry.record.size());
    for (const JobAction &a : entry.record)
        record.push_back(pathsOf(entry.folders, a));
    if (entry.damaged || !recordHolds(record)) {
        report.leftAlone.append(
            QStringLiteral("元に戻す記録が壊れているため、何も変更していません。"));
        return report;
    }
    if (!std::all_of(record.cbegin(), record.cend(), [](const PathAction &a) {
            return a.trashedAs.isEmpty() ||
                   Trash::isUsersTrash(Paths::folderOf(Paths::folderOf(a.trashedAs)));
        })) {
        // Another home trash now ($XDG_DATA_HOME set otherwise), or a made-up record: nothing
        // moves, and the batch waits for the trash it used.
        report.leftAlone.append(
            QStringLiteral("元に戻す記録のごみ箱が今のごみ箱と違うため、何も変更していません。"));
        report.tryAgainLater = true;
        return report;
    }

    std::map<int, ItemDone> items;
    std::vector<PathAction> restored;
    QString targetFolder;
    for (const PathAction &a : record) {
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
            // A drive not plugged in now may be back later; a folder removed from a drive that
            // is here will not.
            leave(path, opened.error);
            const quint64 device =
                folder == &folders.target ? entry.folders.targetDevice : entry.folders.sourceDevice;
            QString up = Paths::folderOf(path);
            FileStatus above = files.status(up, true);
            while (!above.exists() && up != Paths::folderOf(up)) {
                up = Paths::folderOf(up);
                above = files.status(up, true);
            }
            report.tryAgainLater = device == 0 || !above.exists() || above.device != device;
            return report;
        }
    }
    // Only the very folders the batch worked in: one moved away and another put under its
    // path is not the batch's. Drives that number folders anew at each mounting (a card put
    // in again) cannot tell.
    const bool targetIdentities = files.keepsFileIdentities(folders.target);
    const bool sourceIdentities = files.keepsFileIdentities(folders.source);
    const JobRecordFolders &recorded = entry.folders;
    for (const auto &[folder, device, inode] :
         {std::tuple{&folders.target, recorded.targetDevice, recorded.targetInode},
          std::tuple{&folders.source, recorded.sourceDevice, recorded.sourceInode}}) {
        const bool identities = folder == &folders.target ? targetIdentities : sourceIdentities;
        if (identities && (device != 0 || inode != 0) &&
            (folder->device() != device || folder->inode() != inode)) {
            leave(folder->path(),
                  QStringLiteral("フォルダーが移動されたか、別のフォルダーに置き換えられている"
                                 "ため、何も元に戻していません。"));
            // On another drive (an empty mount point while the card is out), it may be back.
            report.tryAgainLater = folder->device() != device;
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
    // Each folder's drive decides for the files in it.
    const auto identitiesAt = [&](const QString &path) {
        return Paths::folderOf(path) == targetFolder ? targetIdentities : sourceIdentities;
    };
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
        if (item.wroteTarget &&
            unchangedSince(statusOf(item.target), item.written, identitiesAt(item.target)))
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
    // Files come back from these trashes: information left behind by a cut-short step is
    // cleaned up there.
    for (const auto &[index, item] : items) {
        const QString trash = Paths::folderOf(Paths::folderOf(item.trashedAs));
        if (!item.hidden.isEmpty() && !item.trashedAs.isEmpty() &&
            !journal.trashFolders.contains(trash))
            journal.trashFolders.append(trash);
    }
    const bool journaled = !journal.kept.empty();
    if (journaled) {
        if (const OpResult written = files.writeJournal(journalPath, journal.toBytes()); !written) {
            leave(journalPath, written.error);
            report.tryAgainLater = true;
            return report;
        }
    }
    // Started once something changes. An undo that changes nothing because a step failed (a
    // drive read-only now) leaves the batch in the history, to be tried again; one that finds
    // every file changed since lets it go, so that older batches can still be undone.
    bool stepFailed = false;

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
            stepFailed = true;
        } else {
            // Not a change yet: a name hidden goes back at the end unless its content went home.
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
        if (!unchangedSince(files.status(item.trashedAs, false), item.trashed,
                            identitiesAt(item.target))) {
            leave(item.trashedAs, QStringLiteral("ごみ箱の中のファイルが置き換えたものと違うため、"
                                                 "そのままにしました。"));
            continue;
        }
        nowAndThen();
        const auto [folder, targetName] = at(item.target);
        const QString name = Trash::spellingBefore(nameOf(item.trashedAs), targetName);
        TemporaryBack temporaries(journal, 1000000 + steps);
        // Numbered anew, the entry is expected under the number it has now.
        FileStatus expected = item.trashed;
        if (!identitiesAt(item.target)) {
            const FileStatus now = files.status(item.trashedAs, false);
            expected.device = now.device;
            expected.inode = now.inode;
        }
        if (const OpResult back =
                files.restoreFromTrash(item.trashedAs, folder, name, {expected, &temporaries});
            !back) {
            leave(item.trashedAs, back.error);
            stepFailed = true;
        } else {
            report.started = true;
        }
    }
    // 3. Contents a stopped batch brought back beside their names go home.
    for (auto it = restored.rbegin(); it != restored.rend(); ++it) {
        if (it->to == it->from || !exists(it->to))
            continue;
        // Only the very file that was brought back goes home.
        if (!unchangedSince(statusOf(it->to), it->written, identitiesAt(it->to)))
            leave(it->to, QStringLiteral("リネームの後に変更されたため、そのままにしました。"));
        else if (exists(it->from))
            leave(it->to, QStringLiteral("元の名前が使われているため、そのままにしました。"));
        else if (const OpResult back = rename(it->to, it->from); !back) {
            leave(it->to, back.error);
            stepFailed = true;
        } else {
            report.started = true;
        }
    }
    // 4. Each content back under its source's name; copies whose source is still there go.
    std::vector<ItemDone *> linksMadeAgain;
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
            } else if (!unchangedSince(statusOf(item.target), item.written,
                                       identitiesAt(item.target))) {
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
                report.started = true;
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
            // Compared once every content is home: the file it points to may be one of them.
            done = files.makeSymbolicLink(item.linkText, sourceFolderOpen, sourceName);
            if (done) {
                report.started = true;
                linksMadeAgain.push_back(&item);
                continue;
            }
        } else if (sourceFree) {
            done = files.renameNoReplace(target, item.hidden, sourceFolderOpen, sourceName);
            if (!done && files.status(target, item.hidden, false).exists() &&
                !exists(item.source)) {
                // Back to another drive: the move copies, then removes its hidden file.
                TemporaryBack temporaries(journal, steps);
                WriteReport back;
                done = files.moveFile(target, item.hidden, sourceFolderOpen, sourceName,
                                      WriteOptions(&temporaries, true), &back);
                // A hidden file that stayed is brought into sight by the recovery below.
                if (done && back.sourceKept)
                    done = OpResult::failure(
                        back.sourceNotRemoved != 0
                            ? systemErrorText(back.sourceNotRemoved)
                            : QStringLiteral(
                                  "元の名前に戻しましたが、新しい名前の側も残りました。"),
                        target.pathOf(item.hidden));
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
            report.started = true;
        } else {
            leave(item.source, done.error);
            // Refused by the system (a drive read-only now), not found changed since.
            stepFailed = stepFailed || done.systemError != 0;
        }
    }

    for (ItemDone *item : linksMadeAgain) {
        const auto [sourceFolderOpen, sourceName] = at(item->source);
        OpResult done = files.sameContent(sourceFolderOpen, sourceName, target, item->hidden)
                            ? files.removeFile(target, item->hidden)
                            : OpResult::failure(QStringLiteral(
                                  "リンク先の内容が変わっているため、新しい名前にも残しました。"));
        if (done) {
            item->hidden.clear();
            ++report.undone;
        } else {
            leave(item->source, done.error);
        }
    }
    report.tryAgainLater = !report.started && stepFailed;
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

QString undoMessage(const UndoReport &report, const OpResult &notPutBack)
{
    QString text = report.started || report.undone > 0
                       ? QStringLiteral("リネームを元に戻しました（%1 件）。").arg(report.undone)
                       : QStringLiteral("リネームを元に戻せませんでした。");
    if (!report.leftAlone.isEmpty()) {
        text += QStringLiteral("\r\n元に戻せなかったもの:");
        for (const QString &line : report.leftAlone)
            text += QStringLiteral("\r\n") + line;
    }
    if (report.tryAgainLater && notPutBack)
        text += QStringLiteral("\r\n何も変更していないため、このリネームは後から元に戻せます。");
    else if (!report.started)
        text += QStringLiteral("\r\nこのリネームは元に戻す記録から外しました（次の「元に戻す」は"
                               "その前のリネームが対象です）。");
    else if (!report.leftAlone.isEmpty())
        text += QStringLiteral("\r\n元に戻せなかったものは、元に戻す記録には残っていません。");
    if (!notPutBack)
        text += QStringLiteral("\r\nこのリネームを元に戻す記録に戻せなかったため、"
                               "後から元に戻すことはできません。理由: ") +
                notPutBack.error;
    return text + restoredLines(report.recovery);
}
