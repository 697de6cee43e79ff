#include "batchjournal.h"

#include "filenames.h"
#include "paths.h"
#include "undo.h"

#include <QRandomGenerator>
#include <QSet>

#include <cerrno>

namespace {

constexpr char header[] = "kaenami batch journal 1";

QByteArray field(const QString &path)
{
    return FileNames::encode(path).toPercentEncoding("/");
}

QString unfield(const QByteArray &text)
{
    return FileNames::decode(QByteArray::fromPercentEncoding(text));
}

QString fileNameOf(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

/// "photo007 (復元).jpg", "photo007 (復元 2).jpg", ... for the content of "photo007.jpg".
QString besideName(const QString &original, int attempt, int nameMax)
{
    QString stem = fileNameOf(original);
    QString extension;
    if (const qsizetype point = stem.lastIndexOf(QLatin1Char('.')); point > 0) {
        extension = stem.mid(point);
        stem.truncate(point);
    }
    const QString mark =
        attempt == 1 ? QStringLiteral(" (復元)") : QStringLiteral(" (復元 %1)").arg(attempt);
    QString name = stem + mark + extension;
    while (FileNames::encode(name).size() > nameMax && !stem.isEmpty()) {
        stem.chop(1);
        name = stem + mark + extension;
    }
    return name;
}

/// The files visible in the batch's folders, by identity; looked up once, when needed.
class VisibleFiles
{
public:
    VisibleFiles(FileOperations &files, const BatchJournal &journal, const QStringList &also)
        : m_files(files), m_journal(journal), m_also(also)
    {}

    bool contains(const FileStatus &file)
    {
        if (!m_read) {
            m_read = true;
            QStringList places = m_also;
            for (const QString &folder : {m_journal.sourceFolder, m_journal.targetFolder}) {
                QStringList names;
                m_files.listFiles(folder, names);
                for (const QString &name : std::as_const(names))
                    places.append(Paths::join(folder, name));
            }
            for (const QString &place : std::as_const(places)) {
                const FileStatus status = m_files.status(place, false);
                if (status.type == FileStatus::Type::Regular)
                    m_identities.insert({status.device, status.inode});
            }
        }
        return m_identities.contains({file.device, file.inode});
    }

private:
    FileOperations &m_files;
    const BatchJournal &m_journal;
    const QStringList &m_also;
    bool m_read = false;
    QSet<QPair<quint64, quint64>> m_identities;
};

/// True when the content kept in `kept` is still in a visible file: the original or the new
/// name holds that very file or the same bytes, or the file has another visible name.
bool stillInSight(FileOperations &files, const BatchJournal::Kept &entry, VisibleFiles &visible)
{
    const FileStatus kept = files.status(entry.kept, false);
    for (const QString &place : {entry.original, entry.target}) {
        if (files.status(place, true).sameFileAs(kept) || files.sameContent(place, entry.kept))
            return true;
    }
    return kept.links > 1 && visible.contains(kept);
}

} // namespace

BatchJournal BatchJournal::begin(const QString &sourceFolder, const QString &targetFolder)
{
    BatchJournal journal;
    journal.id = QString::number(QRandomGenerator::global()->generate64(), 36);
    journal.sourceFolder = sourceFolder;
    journal.targetFolder = targetFolder;
    return journal;
}

QString BatchJournal::hiddenPrefix() const
{
    return QStringLiteral(".kaenami-") + id + QLatin1Char('-');
}

QString BatchJournal::temporaryPath(int serial) const
{
    // Asked for every file of a batch: built in one go.
    if (m_temporaryStem.isEmpty())
        m_temporaryStem = Paths::join(targetFolder, hiddenPrefix());
    QString path;
    path.reserve(m_temporaryStem.size() + 16);
    path.append(m_temporaryStem);
    path.append(QString::number(serial));
    path.append(QLatin1String(".part"));
    return path;
}

QString BatchJournal::keptPath(int serial) const
{
    return Paths::join(targetFolder,
                       hiddenPrefix() + QString::number(serial) + QStringLiteral(".keep"));
}

QString BatchJournal::fileNamePrefix()
{
    return QStringLiteral(".kaenami-batch-");
}

QString BatchJournal::pathIn(const QString &folder, const QString &id)
{
    return Paths::join(folder, fileNamePrefix() + id + QStringLiteral(".journal"));
}

QByteArray BatchJournal::toBytes() const
{
    QByteArray text = QByteArray(header) + '\n';
    text += "id " + id.toLatin1() + '\n';
    text += "source " + field(sourceFolder) + '\n';
    text += "target " + field(targetFolder) + '\n';
    for (const Kept &entry : kept)
        text += "kept " + field(entry.kept) + ' ' + field(entry.original) + ' ' +
                field(entry.target) + '\n';
    text += "end\n";
    return text;
}

std::optional<BatchJournal> BatchJournal::fromBytes(const QByteArray &bytes)
{
    const QList<QByteArray> lines = bytes.split('\n');
    if (lines.size() < 5 || lines.first() != header)
        return std::nullopt;
    BatchJournal journal;
    bool ended = false;
    for (qsizetype i = 1; i < lines.size() && !ended; ++i) {
        const QList<QByteArray> words = lines[i].split(' ');
        const QByteArray &key = words.first();
        if (key == "end" && words.size() == 1)
            ended = true;
        else if (key == "id" && words.size() == 2)
            journal.id = QString::fromLatin1(words[1]);
        else if (key == "source" && words.size() == 2)
            journal.sourceFolder = unfield(words[1]);
        else if (key == "target" && words.size() == 2)
            journal.targetFolder = unfield(words[1]);
        else if (key == "kept" && words.size() == 4)
            journal.kept.push_back({unfield(words[1]), unfield(words[2]), unfield(words[3])});
        else
            return std::nullopt;
    }
    // A journal without its end, id or folders was not written by a batch: touch nothing.
    const bool plainId =
        !journal.id.isEmpty() && std::all_of(journal.id.cbegin(), journal.id.cend(), [](QChar c) {
            return c.unicode() < 128 && c.isLetterOrNumber();
        });
    if (!ended || !plainId || !journal.targetFolder.startsWith(QLatin1Char('/')))
        return std::nullopt;
    // Recovery renames and removes files: only plain absolute paths, kept files only as the
    // batch's own hidden names right in its target folder.
    const auto plain = [](const QString &path) {
        return path.startsWith(QLatin1Char('/')) &&
               !path.split(QLatin1Char('/')).contains(QStringLiteral("..")) &&
               !path.split(QLatin1Char('/')).contains(QStringLiteral("."));
    };
    if (!plain(journal.targetFolder) || !plain(journal.sourceFolder))
        return std::nullopt;
    // A content comes back only into the batch's source folder.
    for (const Kept &entry : journal.kept) {
        if (!plain(entry.kept) || !plain(entry.original) || !plain(entry.target) ||
            Paths::folderOf(entry.kept) != journal.targetFolder ||
            Paths::folderOf(entry.original) != journal.sourceFolder ||
            !fileNameOf(entry.kept).startsWith(journal.hiddenPrefix()))
            return std::nullopt;
    }
    return journal;
}

RecoveryReport recoverBatch(FileOperations &files, const BatchJournal &journal,
                            const QStringList &alsoInSight)
{
    RecoveryReport report;
    const auto problem = [&](const QString &path, const OpResult &result) {
        report.problems.append(FileNames::display(path) + QStringLiteral(": ") + result.error);
    };
    // A folder that cannot be seen now (a drive not plugged in) is not a folder without
    // leftovers: nothing is decided, and the journal stays for a later try.
    if (const FileStatus folder = files.status(journal.targetFolder, true);
        folder.type != FileStatus::Type::Directory) {
        problem(journal.targetFolder,
                OpResult::failure(systemErrorText(folder.error ? folder.error : ENOTDIR)));
        return report;
    }

    VisibleFiles visible(files, journal, alsoInSight);
    for (const BatchJournal::Kept &entry : journal.kept) {
        const FileStatus kept = files.status(entry.kept, false);
        if (!kept.exists()) {
            if (kept.error != ENOENT)
                problem(entry.kept, OpResult::failure(systemErrorText(kept.error)));
            continue;
        }
        if (kept.type != FileStatus::Type::Regular || stillInSight(files, entry, visible)) {
            if (const OpResult removed = files.removeFile(entry.kept); !removed)
                problem(entry.kept, removed);
            else
                ++report.leftoversRemoved;
            continue;
        }
        // Back under its own name when that is free, else under a visible name beside it.
        OpResult moved = files.renameNoReplace(entry.kept, entry.original);
        QString now = entry.original;
        const QString folder = Paths::folderOf(entry.kept);
        const int nameMax = files.nameMax(folder);
        for (int attempt = 1; !moved && attempt <= 100; ++attempt) {
            now = Paths::join(folder, besideName(entry.original, attempt, nameMax));
            moved = files.renameNoReplace(entry.kept, now);
        }
        if (moved)
            report.restored.push_back({entry.original, now});
        else
            problem(entry.kept, moved);
    }

    QStringList leftovers;
    if (const OpResult listed =
            files.listNamesStartingWith(journal.targetFolder, journal.hiddenPrefix(), leftovers);
        !listed && files.status(journal.targetFolder, true).exists()) {
        problem(journal.targetFolder, listed);
    }
    for (const QString &name : std::as_const(leftovers)) {
        if (!name.endsWith(QStringLiteral(".part")))
            continue;
        const QString path = Paths::join(journal.targetFolder, name);
        if (files.status(path, false).type != FileStatus::Type::Regular)
            continue;
        if (const OpResult removed = files.removeFile(path); removed)
            ++report.leftoversRemoved;
        else
            problem(path, removed);
    }
    return report;
}

QString restoredLines(const RecoveryReport &report)
{
    QString text;
    for (const RecoveryReport::Restored &restored : report.restored) {
        text += QStringLiteral("\r\n元の内容を戻したファイル: ") + FileNames::display(restored.now);
        if (restored.now != restored.original)
            text += QStringLiteral("（%1 の内容）").arg(FileNames::display(restored.original));
    }
    for (const QString &problem : report.problems)
        text += QStringLiteral("\r\n戻せなかったもの: ") + problem;
    return text;
}

QString recoverAbandonedBatches(FileOperations &files, const QString &folder)
{
    UndoHistoryFile::removeLeftovers(files, folder);
    // One reading of the folder finds both the journals and those still being written when
    // their batch was killed (those named nothing yet, and simply go).
    QStringList inFolder;
    if (!files.listNamesStartingWith(folder, {}, inFolder))
        return {};
    QStringList names;
    const QString journalPrefix = BatchJournal::fileNamePrefix();
    for (const QString &name : std::as_const(inFolder)) {
        if (name.startsWith(journalPrefix)) {
            names.append(name);
        } else if (name.startsWith(QLatin1Char('.') + journalPrefix)) {
            const QString path = Paths::join(folder, name);
            QByteArray ignored;
            if (files.claimJournal(path, ignored))
                files.finishJournal(path);
        }
    }
    names.sort();
    RecoveryReport all;
    int recovered = 0;
    for (const QString &name : std::as_const(names)) {
        if (!name.endsWith(QStringLiteral(".journal")))
            continue;
        const QString path = Paths::join(folder, name);
        QByteArray bytes;
        if (!files.claimJournal(path, bytes))
            continue; // held by a batch that is still running, or gone meanwhile
        std::optional<BatchJournal> journal = BatchJournal::fromBytes(bytes);
        // A journal is the one its name says.
        if (journal && name != fileNameOf(BatchJournal::pathIn(folder, journal->id)))
            journal.reset();
        if (!journal) {
            // Not ours to act on; set it aside so it is neither lost nor read at every start.
            // (Its lock is released when the descriptor closes, at the latest when we exit.)
            const OpResult moved =
                files.renameNoReplace(path, path + QStringLiteral(".unreadable"));
            if (moved)
                files.finishJournal(path);
            else
                all.problems.append(FileNames::display(path) + QStringLiteral(": ") + moved.error);
            continue;
        }
        const RecoveryReport report = recoverBatch(files, *journal);
        all.restored.insert(all.restored.end(), report.restored.begin(), report.restored.end());
        all.problems.append(report.problems);
        // What could not be put right is tried again at the next start.
        bool finished = false;
        if (report.problems.isEmpty())
            finished = bool(files.finishJournal(path));
        else
            files.releaseJournal(path);
        // A journal that cannot be removed (its folder read-only) and leaves nothing to do is
        // no news at every start.
        if (finished || !report.restored.empty() || report.leftoversRemoved > 0 ||
            !report.problems.isEmpty())
            ++recovered;
    }
    if (recovered == 0 && all.problems.isEmpty())
        return {};
    QString text = QStringLiteral("前回のリネームは最後まで終わっていませんでした。");
    if (all.restored.empty() && all.problems.isEmpty())
        text += QStringLiteral("\r\n失われた内容はありません。");
    text += restoredLines(all);
    if (!all.problems.isEmpty())
        text += QStringLiteral("\r\n戻せなかったものは、次に起動したときにもう一度戻します。");
    return text;
}
