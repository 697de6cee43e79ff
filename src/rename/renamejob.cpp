#include "renamejob.h"

#include "filenames.h"
#include "naming.h"
#include "numericvalue.h"
#include "paths.h"

#include <QScopeGuard>
#include <QSet>

#include <cerrno>
#include <limits>
#include <map>
#include <tuple>

NameProblem checkNewName(const QString &name, int nameMax)
{
    for (const QChar c : name) {
        if (c == QLatin1Char('/'))
            return NameProblem::Slash;
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return NameProblem::Control;
    }
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return NameProblem::Dot;
    if (name.startsWith(QLatin1Char('.')))
        return NameProblem::Hidden;
    if (FileNames::encodedSize(name) > nameMax)
        return NameProblem::TooLong;
    return NameProblem::None;
}

BatchPlan planBatch(const RenameRequest &request, int nameMax)
{
    BatchPlan plan;
    const double digitCount = numericValue(request.digitCountText);
    plan.digitCheckPassed = !(double(request.startNumberText.size()) > digitCount);
    if (!plan.digitCheckPassed)
        return plan;

    const int digits = roundToInt16(digitCount).value_or(0);
    const std::optional<qint32> start = roundToInt32(numericValue(request.startNumberText));
    if (!start) {
        plan.stop = BatchPlan::Stop::StartOutOfRange;
        return plan;
    }
    qint32 number = *start;
    for (int j = 0; j < int(request.entries.size()); ++j) {
        if (!request.entries[size_t(j)].selected)
            continue;
        plan.items.push_back(
            {j, Naming::newName(request.baseName, number, digits, request.extension)});
        if (plan.nameProblem == NameProblem::None) {
            plan.nameProblem = checkNewName(plan.items.back().newName, nameMax);
            if (plan.nameProblem != NameProblem::None)
                plan.refusedName = plan.items.back().newName;
        }
        if (number == std::numeric_limits<qint32>::max()) {
            plan.stop = BatchPlan::Stop::NumberOverflow;
            break;
        }
        ++number;
    }
    return plan;
}

namespace {

using FileKey = QPair<quint64, quint64>;

/// A name with letter case ignored; plain ASCII names, the common case, the quick way.
QString folded(const QString &name)
{
    const char16_t *begin = reinterpret_cast<const char16_t *>(name.constData());
    if (std::all_of(begin, begin + name.size(), [](char16_t c) { return c < 0x80; }))
        return name.toLower();
    return name.toCaseFolded();
}

FileKey keyOf(const FileStatus &status)
{
    return {status.device, status.inode};
}

QString sourcePathOf(const RenameRequest &request, int entry)
{
    return Paths::join(request.sourceFolder, request.entries[size_t(entry)].name);
}

} // namespace

namespace {

/// Two folder paths that the system reports as different folders, yet list the same names
/// with the same sizes and times: one folder seen through two mounts (a FUSE or network view
/// of a local folder has its own device number). The batch then keeps sources aside by name
/// as well. A few files may be changing while they are looked at (a download in progress); a
/// pair that only looks alike costs some needless keeping aside, nothing else, because what is
/// replaced and what is one file are decided by identity.
bool foldersLookAlike(FileOperations &files, const QString &a, const QString &b,
                      const QHash<QString, FileStatus> &inA, const QHash<QString, FileStatus> &inB,
                      const std::function<void()> &keepAlive)
{
    // Two folders of one device that are not one directory are two folders.
    if (inA.isEmpty() || inA.size() != inB.size() ||
        files.status(a, true).device == files.status(b, true).device)
        return false;
    for (auto it = inA.cbegin(); it != inA.cend(); ++it) {
        if (!inB.contains(it.key()))
            return false;
    }
    const qsizetype tolerated = inA.size() / 20;
    qsizetype differing = 0, looked = 0;
    for (auto it = inA.cbegin(); it != inA.cend(); ++it) {
        if (keepAlive && ++looked % 1024 == 0)
            keepAlive();
        const FileStatus x = files.status(Paths::join(a, it.key()), false);
        const FileStatus y = files.status(Paths::join(b, it.key()), false);
        if ((x.type != y.type || x.size != y.size || x.modifiedNs != y.modifiedNs) &&
            ++differing > tolerated)
            return false;
    }
    return true;
}

/// A file's identity without its device, for files seen through another mount.
using LooseKey = QPair<quint64, QPair<qint64, qint64>>;

LooseKey looseKeyOf(const FileStatus &status)
{
    return {status.inode, {status.size, status.modifiedNs}};
}

} // namespace

BatchLayout layOutBatch(const RenameRequest &request, const BatchPlan &plan, FileOperations &files,
                        const std::function<void()> &keepAlive)
{
    const auto nowAndThen = [&](size_t i) {
        if (keepAlive && i % 1024 == 0)
            keepAlive();
    };
    BatchLayout layout;
    const size_t count = plan.items.size();
    layout.carriedTarget.assign(count, {});
    layout.nameTakenEarlier.assign(count, false);
    if (!plan.digitCheckPassed || plan.nameProblem != NameProblem::None ||
        plan.stop == BatchPlan::Stop::StartOutOfRange)
        return layout;

    // One reading of each folder tells what its entries are; only links and names that are
    // taken are looked at one by one.
    QHash<QString, FileStatus> inSource, inTarget;
    const bool sourceListed = bool(files.listEntries(request.sourceFolder, inSource));
    const bool oneDirectory = files.isSameFile(request.sourceFolder, request.targetFolder);
    const bool targetListed =
        oneDirectory ? sourceListed : bool(files.listEntries(request.targetFolder, inTarget));
    if (oneDirectory)
        inTarget = inSource;
    layout.sameFolder =
        oneDirectory || (sourceListed && targetListed &&
                         foldersLookAlike(files, request.sourceFolder, request.targetFolder,
                                          inSource, inTarget, keepAlive));
    const auto nameOf = [&](size_t p) -> const QString & {
        return request.entries[size_t(plan.items[p].entryIndex)].name;
    };
    const auto listed = [&](bool wasListed, const QHash<QString, FileStatus> &folder,
                            const QString &name, const QString &path) {
        if (!wasListed)
            return files.status(path, false);
        if (const auto found = folder.constFind(name); found != folder.cend())
            return *found;
        FileStatus missing;
        missing.error = ENOENT;
        return missing;
    };

    // Each source as a name (its own entry) and as the file it resolves to.
    std::vector<FileStatus> &entries = layout.sourceEntries;
    std::vector<FileStatus> &sources = layout.sourceFiles;
    entries.assign(count, {});
    sources.assign(count, {});
    std::vector<FileStatus> &targets = layout.targetEntries;
    targets.assign(count, {});
    layout.reached = count;
    for (size_t p = 0; p < count; ++p) {
        nowAndThen(p);
        const BatchPlan::Item &item = plan.items[p];
        const QString source = sourcePathOf(request, item.entryIndex);
        entries[p] = listed(sourceListed, inSource, nameOf(p), source);
        if (entries[p].type == FileStatus::Type::SymbolicLink) {
            entries[p] = files.status(source, false);
            sources[p] = files.status(source, true);
        } else {
            sources[p] = entries[p];
        }
        const QString target = Paths::join(request.targetFolder, item.newName);
        targets[p] = listed(targetListed, inTarget, item.newName, target);
        if (targets[p].exists() && targets[p].size < 0)
            targets[p] = files.status(target, false);
        if (layout.reached == count && !request.overwrite && item.newName == nameOf(p) &&
            files.isOrdinaryFile(target)) {
            layout.reached = p;
        }
    }

    // Entries that a step replaces (a new name) or takes away (a move), as files, as files
    // seen through another mount, and (in one folder) as names. A later source reached through
    // one of them, as its own name, as the file it resolves to, or possibly along a chain of
    // links, is kept aside before the batch starts.
    struct Reach
    {
        QSet<FileKey> files;
        QSet<LooseKey> loose;
        QSet<QString> names;
        bool link = false;
        void add(const FileStatus &status)
        {
            if (!status.exists())
                return;
            files.insert(keyOf(status));
            if (status.size >= 0)
                loose.insert(looseKeyOf(status));
            link = link || status.type == FileStatus::Type::SymbolicLink;
        }
        bool holds(const FileStatus &entry, const FileStatus &file, const QString &name,
                   bool sameFolder) const
        {
            for (const FileStatus *s : {&entry, &file}) {
                if (s->exists() &&
                    (files.contains(keyOf(*s)) || (s->size >= 0 && loose.contains(looseKeyOf(*s)))))
                    return true;
            }
            return (sameFolder && names.contains(folded(name))) ||
                   (entry.type == FileStatus::Type::SymbolicLink && link);
        }
    };
    Reach replaced, touched;
    QSet<QString> earlierNames;
    QSet<FileKey> earlierTargets;
    for (size_t q = 0; q < layout.reached; ++q) {
        // Only a regular file can be kept; anything else stops the batch when it is reached.
        if (sources[q].type == FileStatus::Type::Regular &&
            touched.holds(entries[q], sources[q], nameOf(q), layout.sameFolder)) {
            layout.keepAside.push_back(q);
            // The same entry as an earlier new name: the very same name, or one file with a
            // single name (which is how a file system that ignores case shows another spelling).
            layout.nameTakenEarlier[q] =
                (layout.sameFolder && earlierNames.contains(nameOf(q))) ||
                (earlierTargets.contains(keyOf(entries[q])) &&
                 files.status(sourcePathOf(request, plan.items[q].entryIndex), false).links == 1);
        }
        if (targets[q].exists()) {
            replaced.add(targets[q]);
            touched.add(targets[q]);
            earlierTargets.insert(keyOf(targets[q]));
        }
        // Names matter only within one folder.
        if (layout.sameFolder) {
            const QString newName = folded(plan.items[q].newName);
            earlierNames.insert(plan.items[q].newName);
            replaced.names.insert(newName);
            touched.names.insert(newName);
        }
        if (request.move) {
            touched.add(entries[q]);
            touched.add(sources[q]);
            if (layout.sameFolder)
                touched.names.insert(folded(nameOf(q)));
        }
    }

    // A replaced entry goes to the trash unless it is the very entry of a source whose content
    // the batch carries on: a regular file with no other name. Decided by identity, not by
    // names, so two folders that only look alike never lose a file.
    QSet<FileKey> sourceEntryKeys;
    for (size_t p = 0; p < count; ++p) {
        if (entries[p].type == FileStatus::Type::Regular)
            sourceEntryKeys.insert(keyOf(entries[p]));
    }
    for (size_t p = 0; p < count; ++p) {
        if (targets[p].type == FileStatus::Type::Regular && targets[p].links == 1 &&
            sourceEntryKeys.contains(keyOf(targets[p])))
            layout.carriedTarget[p] = targets[p];
    }

    // Sources the batch never reaches must not have been replaced by then.
    std::vector<int> unreached;
    for (size_t p = layout.reached; p < count; ++p)
        unreached.push_back(plan.items[p].entryIndex);
    // The stop named is the first one: the same name comes before the number limit.
    layout.strandedBySameName = layout.reached < count;
    if (plan.stop == BatchPlan::Stop::NumberOverflow) {
        for (int j = plan.items.back().entryIndex + 1; j < int(request.entries.size()); ++j) {
            if (request.entries[size_t(j)].selected)
                unreached.push_back(j);
        }
    }
    for (const int entry : unreached) {
        const QString source = sourcePathOf(request, entry);
        FileStatus name =
            listed(sourceListed, inSource, request.entries[size_t(entry)].name, source);
        FileStatus file = name;
        if (name.type == FileStatus::Type::SymbolicLink) {
            name = files.status(source, false);
            file = files.status(source, true);
        }
        if (file.type == FileStatus::Type::Regular &&
            replaced.holds(name, file, request.entries[size_t(entry)].name, layout.sameFolder)) {
            layout.stranded = source;
            return layout;
        }
    }
    return layout;
}

/// The state of one running batch.
class RenameJob::Batch
{
public:
    Batch(FileOperations &files, ProgressDisplay &progress, const RenameRequest &request,
          JobResult &result)
        : m_files(files), m_progress(progress), m_request(request), m_result(result),
          m_journal(BatchJournal::begin(request.sourceFolder, request.targetFolder))
    {}

    QString sourcePath(int entry) const { return sourcePathOf(m_request, entry); }
    /// The new name is the source's own entry: its own name in its own folder, and the same
    /// file by identity (two folders that only look alike are never taken for one).
    bool sameEntry(size_t index, const BatchPlan::Item &item, const BatchLayout &layout) const
    {
        return layout.sameFolder &&
               item.newName == m_request.entries[size_t(item.entryIndex)].name &&
               layout.sourceEntries[index].sameFileAs(layout.targetEntries[index]);
    }
    QString targetPath(const BatchPlan::Item &item) const
    {
        return Paths::join(m_request.targetFolder, item.newName);
    }

    /// Writes the journal naming every hidden file the batch may leave, then keeps aside the
    /// sources that an earlier step replaces or moves.
    bool begin(const BatchPlan &plan, const BatchLayout &layout, const QString &journalFolder)
    {
        int serial = 0;
        for (const size_t q : layout.keepAside) {
            const BatchPlan::Item &item = plan.items[q];
            m_journal.kept.push_back(
                {m_journal.keptPath(++serial), sourcePath(item.entryIndex), targetPath(item)});
            m_kept.emplace(item.entryIndex,
                           Kept{m_journal.kept.back().kept, layout.sourceEntries[q],
                                layout.sourceFiles[q], layout.nameTakenEarlier[q]});
        }
        m_serial = serial;
        // Only hidden files need a journal: kept sources, and temporaries, which a replace or a
        // folder that takes no unnamed files brings. New files alone appear complete or not at
        // all, and a move is a rename, so the sync is spared.
        const bool replaces =
            std::any_of(layout.targetEntries.cbegin(), layout.targetEntries.cend(),
                        [](const FileStatus &target) { return target.exists(); });
        if (m_journal.kept.empty() && !replaces &&
            m_files.writesUnnamedFiles(m_request.targetFolder))
            return true;
        m_journalPath = BatchJournal::pathIn(journalFolder, m_journal.id);
        if (!check(m_files.writeJournal(m_journalPath, m_journal.toBytes()), m_journalPath)) {
            m_journalPath.clear();
            return false;
        }
        for (size_t k = 0; k < m_journal.kept.size(); ++k) {
            if (k % 256 == 0)
                m_progress.keepAlive();
            const BatchJournal::Kept &kept = m_journal.kept[k];
            if (!check(m_files.setAside(kept.original, kept.kept), kept.original))
                return false;
            m_item = int(layout.keepAside[k]);
            m_itemSource = kept.original;
            note(JobAction::Kind::SetAside, kept.original, kept.kept);
        }
        m_item = -1;
        m_itemSource.clear();
        return true;
    }

    /// Carries out item `index`; false when the batch ends here.
    bool process(size_t index, const BatchPlan::Item &item, const BatchLayout &layout)
    {
        const int entry = item.entryIndex;
        m_item = int(index);
        m_itemSource = sourcePath(entry);
        const QString &source = m_itemSource;
        m_notToTrash = layout.carriedTarget[index];
        // A source that was gone when the batch started is not taken from whatever has its
        // name now (a dangling link that an earlier step made point somewhere).
        if (const FileStatus &before = layout.sourceFiles[index]; !before.exists())
            return check(OpResult::failure(systemErrorText(before.error ? before.error : ENOENT)),
                         m_itemSource);
        const QString target = targetPath(item);

        if (const auto found = m_kept.find(entry); found != m_kept.end()) {
            const Kept kept = found->second;
            m_kept.erase(found);
            const FileStatus entryNow = m_files.status(source, false);
            const bool entryUnchanged = entryNow.sameFileAs(kept.entryBefore);
            if (kept.nameTakenEarlier || !entryUnchanged ||
                !m_files.status(source, true).sameFileAs(kept.fileBefore)) {
                // An earlier step replaced the source, or its name is an earlier new name: the
                // content lives on in the kept file.
                if (!carryOutKept(kept.path, target))
                    return false;
                // A link whose file was replaced is still the source: a move takes it away.
                if (m_request.move && !kept.nameTakenEarlier && entryUnchanged &&
                    entryNow.type == FileStatus::Type::SymbolicLink && !remove(source))
                    return false;
                ++m_result.filesDone;
                return true;
            }
            if (!processFrom(index, source, target, sameEntry(index, item, layout), layout))
                return false;
            return remove(kept.path);
        }
        return processFrom(index, source, target, sameEntry(index, item, layout), layout);
    }

    /// Puts a stopped batch right: kept contents that are no longer in sight come back under
    /// visible names, its hidden files go, and the journal is removed.
    void finish()
    {
        if (m_journalPath.isEmpty())
            return;
        if (!m_kept.empty() || m_result.outcome == JobResult::Outcome::Interrupted) {
            QStringList written;
            for (const JobAction &action : m_result.record) {
                if (action.kind == JobAction::Kind::Copied ||
                    action.kind == JobAction::Kind::Replaced ||
                    action.kind == JobAction::Kind::Moved)
                    written.append(action.to);
            }
            m_result.recovery = recoverBatch(m_files, m_journal, written);
            m_item = -1;
            for (const RecoveryReport::Restored &restored : m_result.recovery.restored) {
                m_itemSource = restored.original;
                note(JobAction::Kind::Restored, restored.original, restored.now);
            }
        }
        m_kept.clear();
        // What could not be put right now is tried again at the next start.
        if (m_result.recovery.problems.isEmpty())
            m_files.finishJournal(m_journalPath);
        else
            m_files.releaseJournal(m_journalPath);
        m_journalPath.clear();
    }

    bool check(const OpResult &result, const QString &path)
    {
        if (result)
            return true;
        m_result.outcome = JobResult::Outcome::Interrupted;
        m_result.failure = result;
        if (m_result.failure.path.isEmpty())
            m_result.failure.path = path;
        return false;
    }

private:
    /// `sameEntry`: the new name is the source's own name in its own folder. What the source
    /// and the new name were comes from the look at the folders before the batch.
    bool processFrom(size_t index, const QString &source, const QString &target, bool sameEntry,
                     const BatchLayout &layout)
    {
        const bool link = layout.sourceEntries[index].type == FileStatus::Type::SymbolicLink;
        if (sameEntry && link) {
            // A link named as its own new name becomes a file with the content it shows, so
            // later steps that move or replace what it points to cannot change it.
            const QString linkText = m_files.linkText(source);
            WriteReport report;
            if (!checkPair(m_files.copyFile(source, target, nextWrite(), &report), source, target))
                return false;
            note(JobAction::Kind::Replaced, source, target, report);
            m_result.record.back().linkText = linkText;
        } else if (sameEntry || (!m_request.move && layout.sourceFiles[index].sameFileAs(
                                                        layout.targetEntries[index]))) {
            // The new name already is this file: it is what the batch asks for.
            note(JobAction::Kind::Kept, source, target);
        } else if (m_request.move) {
            if (!move(source, target, link))
                return false;
        } else {
            WriteReport report;
            if (!checkPair(m_files.copyFile(source, target, nextWrite(), &report), source, target))
                return false;
            note(report.replaced ? JobAction::Kind::Replaced : JobAction::Kind::Copied, source,
                 target, report);
        }
        ++m_result.filesDone;
        return true;
    }

    bool move(const QString &source, const QString &target, bool link)
    {
        // A link's text is kept in the record, so that an undo can make it again.
        const QString linkText = link ? m_files.linkText(source) : QString();
        WriteReport report;
        if (!checkPair(m_files.moveFile(source, target, nextWrite(), &report), source, target))
            return false;
        if (report.alreadyThere) {
            note(JobAction::Kind::Kept, source, target, report);
            noteRemoved(source, linkText);
        } else if (report.copied) {
            note(report.replaced ? JobAction::Kind::Replaced : JobAction::Kind::Copied, source,
                 target, report);
            if (!report.sourceKept)
                noteRemoved(source, linkText);
        } else {
            note(JobAction::Kind::Moved, source, target, report);
        }
        return true;
    }

    bool carryOutKept(const QString &kept, const QString &target)
    {
        // A kept file that is a second name of another visible file is copied, so the two new
        // names do not end up as one file.
        if (m_request.move && m_files.status(kept, false).links <= 1)
            return move(kept, target, false);
        WriteReport report;
        if (!checkPair(m_files.copyFile(kept, target, nextWrite(), &report), kept, target))
            return false;
        note(report.replaced ? JobAction::Kind::Replaced : JobAction::Kind::Copied, kept, target,
             report);
        return remove(kept);
    }

    WriteOptions nextWrite()
    {
        return WriteOptions(m_journal.temporaryPath(++m_serial), false, true, m_notToTrash);
    }

    /// check() for a step between two files, named both only when it failed.
    bool checkPair(const OpResult &result, const QString &from, const QString &to)
    {
        return result || check(result, from + QStringLiteral(" → ") + to);
    }

    bool remove(const QString &path)
    {
        // A link's text is kept in the record, so that an undo can make it again.
        const QString linkText = m_files.linkText(path);
        if (!check(m_files.removeFile(path), path))
            return false;
        noteRemoved(path, linkText);
        return true;
    }

    void noteRemoved(const QString &path, const QString &linkText)
    {
        note(JobAction::Kind::Removed, path, {});
        m_result.record.back().linkText = linkText;
    }

    void note(JobAction::Kind kind, const QString &from, const QString &to,
              const WriteReport &report = {})
    {
        m_result.record.push_back({kind,
                                   from,
                                   to,
                                   report.written,
                                   report.replaced,
                                   m_item,
                                   m_itemSource,
                                   report.trashedAs,
                                   report.trashed,
                                   {}});
        if (report.replacedNotKept)
            ++m_result.replacedNotKept;
    }

    FileOperations &m_files;
    ProgressDisplay &m_progress;
    const RenameRequest &m_request;
    JobResult &m_result;
    BatchJournal m_journal;
    QString m_journalPath;
    int m_serial = 0;
    struct Kept
    {
        QString path;
        FileStatus entryBefore;
        FileStatus fileBefore;
        bool nameTakenEarlier;
    };
    std::map<int, Kept> m_kept; ///< entry -> its kept file, until the entry is done
    int m_item = -1;            ///< the plan item being carried out
    QString m_itemSource;
    FileStatus m_notToTrash; ///< the entry the current item may replace without the trash
};

RenameJob::RenameJob(FileOperations &files, ProgressDisplay &progress, MessageBoxes &messages,
                     JobHost &host, QString journalFolder)
    : m_files(files), m_progress(progress), m_messages(messages), m_host(host),
      m_journalFolder(std::move(journalFolder))
{}

JobResult RenameJob::run(const RenameRequest &request)
{
    JobResult result;
    // Long copies let the window answer too; the handler goes with the job.
    m_files.setBusyHandler([this] { m_progress.keepAlive(); });
    const auto unhook = qScopeGuard([this] { m_files.setBusyHandler({}); });
    const int nameMax = m_files.nameMax(request.targetFolder);
    const BatchPlan plan = planBatch(request, nameMax);
    if (!plan.digitCheckPassed) {
        result.outcome = JobResult::Outcome::DigitCheckFailed;
        m_messages.inform(digitCheckMessage());
        return result;
    }
    const auto refuse = [&](const QString &message) {
        result.outcome = JobResult::Outcome::Refused;
        result.refusal = message;
        m_messages.inform(message);
        return result;
    };
    if (plan.nameProblem != NameProblem::None)
        return refuse(nameRefusedMessage(plan, nameMax));
    const BatchLayout layout =
        layOutBatch(request, plan, m_files, [this] { m_progress.keepAlive(); });
    if (!layout.stranded.isEmpty())
        return refuse(strandedMessage(layout));

    const int count = int(request.entries.size());
    m_progress.setRange(0, std::max(count - 1, 0));
    m_progress.setVisible(true);
    m_progress.setValue(0);

    Batch batch(m_files, m_progress, request, result);
    result.record.reserve(plan.items.size() + layout.keepAside.size() * 2);
    const auto interrupt = [&] {
        batch.finish();
        result.undoRecording = m_host.recordForUndo(result);
        if (result.outcome == JobResult::Outcome::Interrupted)
            m_messages.inform(interruptedMessage(result));
        return result;
    };

    if (plan.stop == BatchPlan::Stop::StartOutOfRange) {
        batch.check(OpResult::failure(startOutOfRangeMessage(request.startNumberText)), {});
        return interrupt();
    }
    if (layout.reached > 0 && !batch.begin(plan, layout, m_journalFolder))
        return interrupt();

    size_t next = 0;
    for (int j = 0; j < count; ++j) {
        if (next < plan.items.size() && plan.items[next].entryIndex == j) {
            if (next == layout.reached) {
                // The same name with overwriting off, as foreseen before the batch started.
                result.outcome = JobResult::Outcome::SameNameStop;
                batch.finish();
                result.undoRecording = m_host.recordForUndo(result);
                m_messages.inform(sameNameMessage() + undoLines(result));
                return result;
            }
            if (!batch.process(next, plan.items[next], layout))
                return interrupt();
            ++next;
            if (next == plan.items.size() && plan.stop == BatchPlan::Stop::NumberOverflow) {
                batch.check(OpResult::failure(
                                QStringLiteral("連番が 2147483647 を超えるため続けられません。")),
                            Paths::join(request.targetFolder, plan.items.back().newName));
                return interrupt();
            }
        }
        m_progress.setValue(j);
    }
    batch.finish();
    result.undoRecording = m_host.recordForUndo(result);

    m_progress.setVisible(false);
    m_progress.setValue(0);
    // Every file is done now; a completion step that fails is told as such.
    if (const OpResult refreshed = m_host.refreshLists(); !refreshed)
        result.completionFailures.push_back({QStringLiteral("ファイル一覧の更新"), refreshed});
    if (const OpResult saved = m_host.saveData(); !saved)
        result.completionFailures.push_back({QStringLiteral("設定の保存"), saved});
    m_host.focusBaseName();
    m_messages.inform((result.completionFailures.empty() ? completedMessage()
                                                         : completedWithFailuresMessage(result)) +
                      notKeptLine(result) + undoLines(result));
    return result;
}

QString RenameJob::digitCheckMessage()
{
    return QStringLiteral("数値が桁数を越えています。");
}

QString RenameJob::startOutOfRangeMessage(const QString &startNumberText)
{
    return QStringLiteral("開始番号 %1 は扱える範囲を超えています。").arg(startNumberText);
}

QString RenameJob::sameNameMessage()
{
    return QStringLiteral("コピー先に同じファイル名があります。\r\n"
                          "上書きするのであればチェックボックスをオンにしてください。");
}

QString RenameJob::completedMessage()
{
    return QStringLiteral("リネームが完了しました。");
}

QString RenameJob::completedWithFailuresMessage(const JobResult &result)
{
    QString text = completedMessage() + QStringLiteral("\r\nただし、次の後処理に失敗しました。");
    for (const JobResult::CompletionFailure &failed : result.completionFailures) {
        text += QStringLiteral("\r\n") + failed.step;
        if (!failed.failure.path.isEmpty())
            text += QStringLiteral(": ") + FileNames::display(failed.failure.path);
        text += QStringLiteral("\r\n理由: ") + failed.failure.error;
    }
    return text;
}

QString RenameJob::interruptedMessage(const JobResult &result)
{
    QString text = QStringLiteral("リネームを中断しました。");
    if (!result.failure.path.isEmpty())
        text += QStringLiteral("\r\n失敗したファイル: ") + FileNames::display(result.failure.path);
    text += QStringLiteral("\r\n理由: ") + result.failure.error;
    text += QStringLiteral("\r\n中断までに処理したファイル: %1 件").arg(result.filesDone);
    return text + restoredLines(result.recovery) + notKeptLine(result) + undoLines(result);
}

QString RenameJob::notKeptLine(const JobResult &result)
{
    if (result.replacedNotKept == 0)
        return {};
    return QStringLiteral("\r\n置き換えたファイルのうち %1 件は、ごみ箱に残せませんでした。")
        .arg(result.replacedNotKept);
}

QString RenameJob::undoLines(const JobResult &result)
{
    QString text;
    if (!result.undoRecording.note.isEmpty())
        text += QStringLiteral("\r\n") + result.undoRecording.note;
    if (!result.undoRecording.saved)
        text += QStringLiteral("\r\nこのリネームは元に戻せません。理由: ") +
                result.undoRecording.saved.error;
    return text;
}

namespace {

/// The name as a message shows it: control characters as visible symbols.
QString visibleName(const QString &name)
{
    QString shown = FileNames::display(name);
    for (QChar &c : shown) {
        if (c.unicode() < 0x20)
            c = QChar(char16_t(0x2400 + c.unicode()));
        else if (c.unicode() == 0x7F)
            c = QChar(char16_t(0x2421));
    }
    return shown;
}

} // namespace

QString RenameJob::nameRefusedMessage(const BatchPlan &plan, int nameMax)
{
    QString reason;
    switch (plan.nameProblem) {
    case NameProblem::Slash:
        reason = QStringLiteral("ファイル名に「/」は使えません。");
        break;
    case NameProblem::Control:
        reason = QStringLiteral("ファイル名に制御文字（改行、タブなど）は使えません。");
        break;
    case NameProblem::Dot:
        reason = QStringLiteral("「.」と「..」はファイル名にできません。");
        break;
    case NameProblem::Hidden:
        reason = QStringLiteral("「.」で始まる名前は隠しファイルになり、一覧に表示されません。");
        break;
    case NameProblem::TooLong:
        reason = QStringLiteral("ファイル名が長すぎます（このフォルダーでは %1 バイトまで）。")
                     .arg(nameMax);
        break;
    case NameProblem::None:
        break;
    }
    return QStringLiteral("新しいファイル名「%1」は使えません。\r\n")
               .arg(visibleName(plan.refusedName)) +
           reason + QStringLiteral("\r\nファイルは何も変更していません。");
}

QString RenameJob::strandedMessage(const BatchLayout &layout)
{
    const QString why = layout.strandedBySameName
                            ? QStringLiteral("上書きしない設定のため同じファイル名のところで止まり")
                            : QStringLiteral("連番が 2147483647 に達したところで止まり");
    return QStringLiteral("このリネームは途中で止まるため、始めませんでした。\r\n"
                          "「%1」は途中で別のファイルに上書きされますが、%2、"
                          "その内容を移すところまで進みません。\r\n"
                          "ファイルは何も変更していません。")
        .arg(FileNames::display(layout.stranded), why);
}
