#include "renamejob.h"

#include "filenames.h"
#include "folderlisting.h"
#include "foldernames.h"
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
    // New names differ only in their numbers, which hold digits and "-": after the first name,
    // only the length can make one unusable. The fixed part's bytes are counted once.
    const qsizetype fixedBytes =
        FileNames::encodedSize(request.baseName) + 1 + FileNames::encodedSize(request.extension);
    bool firstChecked = false;
    plan.items.reserve(request.entries.size());
    for (int j = 0; j < int(request.entries.size()); ++j) {
        if (!request.entries[size_t(j)].selected)
            continue;
        plan.items.push_back(
            {j, Naming::newName(request.baseName, number, digits, request.extension)});
        if (plan.nameProblem == NameProblem::None) {
            const QString &name = plan.items.back().newName;
            if (!firstChecked)
                plan.nameProblem = checkNewName(name, nameMax);
            else if (fixedBytes +
                         (name.size() - request.baseName.size() - 1 - request.extension.size()) >
                     nameMax)
                plan.nameProblem = NameProblem::TooLong;
            firstChecked = true;
            if (plan.nameProblem != NameProblem::None)
                plan.refusedName = name;
        }
        if (number == std::numeric_limits<qint32>::max()) {
            // The batch stops only where a selected file is left without a number.
            const auto later = request.entries.cbegin() + j + 1;
            if (std::any_of(later, request.entries.cend(),
                            [](const SourceEntry &entry) { return entry.selected; }))
                plan.stop = BatchPlan::Stop::NumberOverflow;
            break;
        }
        ++number;
    }
    return plan;
}

namespace {

QString sourceChangedText()
{
    return QStringLiteral("コピーしている間に元のファイルが書き換えられたため、移動をやめました"
                          "（元のファイルはそのまま残っています）。");
}

QString sourceNotRemovedText(int error)
{
    return QStringLiteral("新しい名前にコピーしましたが、元のファイルを削除できませんでした（%1）。"
                          "元のファイルはそのまま残っています。")
        .arg(systemErrorText(error));
}

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

/// Two open folders that the system reports as different folders, yet list the same names
/// with the same sizes and times: one folder seen through two mounts (a FUSE or network view
/// of a local folder has its own device number). The batch then keeps sources aside by name
/// as well. A few files may be changing while they are looked at (a download in progress); a
/// pair that only looks alike costs some needless keeping aside, nothing else, because what is
/// replaced and what is one file are decided by identity.
bool foldersLookAlike(FileOperations &files, const OpenFolder &a, const OpenFolder &b,
                      const FolderListing &inA, const FolderListing &inB,
                      const std::function<void()> &keepAlive)
{
    // Two folders of one device that are not one directory are two folders.
    if (inA.size() == 0 || inA.size() != inB.size() || a.device() == b.device())
        return false;
    QStringList names;
    names.reserve(inA.size());
    for (qsizetype i = 0; i < inA.size(); ++i) {
        names.append(inA.nameAt(i));
        if (!inB.contains(names.back()))
            return false;
    }
    const qsizetype tolerated = inA.size() / 20;
    qsizetype differing = 0, looked = 0;
    for (const QString &name : std::as_const(names)) {
        if (keepAlive && ++looked % 1024 == 0)
            keepAlive();
        const FileStatus x = files.status(a, name, false);
        const FileStatus y = files.status(b, name, false);
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
    OpenFolder source, target;
    files.openFolder(request.sourceFolder, source);
    files.openFolder(request.targetFolder, target);
    return layOutBatch(request, plan, files, source, target, keepAlive);
}

BatchLayout layOutBatch(const RenameRequest &request, const BatchPlan &plan, FileOperations &files,
                        const OpenFolder &sourceFolder, const OpenFolder &targetFolder,
                        const std::function<void()> &keepAlive)
{
    const auto nowAndThen = [&](size_t i) {
        if (keepAlive && i % 1024 == 0)
            keepAlive();
    };
    BatchLayout layout;
    const size_t count = plan.items.size();
    if (!plan.digitCheckPassed || plan.nameProblem != NameProblem::None ||
        plan.stop == BatchPlan::Stop::StartOutOfRange || count == 0)
        return layout;

    // One reading of each folder tells what its entries are; only links and names that are
    // taken are looked at one by one. A folder that could not be opened lists nothing.
    FolderListing inSource, separateTarget;
    const bool sourceListed = bool(files.listFolder(sourceFolder, inSource));
    const bool oneDirectory = sourceFolder.sameFolderAs(targetFolder);
    const bool targetListed =
        oneDirectory ? sourceListed : bool(files.listFolder(targetFolder, separateTarget));
    const FolderListing &inTarget = oneDirectory ? inSource : separateTarget;
    layout.sameFolder = oneDirectory || (sourceListed && targetListed &&
                                         foldersLookAlike(files, sourceFolder, targetFolder,
                                                          inSource, inTarget, keepAlive));
    const auto nameOf = [&](size_t p) -> const QString & {
        return request.entries[size_t(plan.items[p].entryIndex)].name;
    };
    const auto listed = [&](bool wasListed, const FolderListing &entries, const OpenFolder &folder,
                            const QString &name) {
        return wasListed ? entries.find(name) : files.status(folder, name, false);
    };
    // A drive that ignores letter case finds a new name under another spelling as well.
    const bool targetFolds =
        targetListed && FolderNames::ignoresCase(files, targetFolder, inTarget);
    const auto listedTarget = [&](const QString &name) {
        const FileStatus status = listed(targetListed, inTarget, targetFolder, name);
        return status.exists() || !targetFolds ? status : inTarget.findIgnoringCase(name);
    };

    // Each source as a name (its own entry) and as the file it resolves to.
    std::vector<FileStatus> &entries = layout.sourceEntries;
    entries.assign(count, {});
    const auto sources = [&](size_t p) { return layout.sourceFile(p); };
    const auto targets = [&](size_t p) { return layout.takenTargets.at(p); };
    layout.reached = count;
    for (size_t p = 0; p < count; ++p) {
        nowAndThen(p);
        const BatchPlan::Item &item = plan.items[p];
        entries[p] = listed(sourceListed, inSource, sourceFolder, nameOf(p));
        if (entries[p].type == FileStatus::Type::SymbolicLink) {
            entries[p] = files.status(sourceFolder, nameOf(p), false);
            if (entries[p].type == FileStatus::Type::SymbolicLink)
                layout.linkedFiles.set(p, files.status(sourceFolder, nameOf(p), true));
        }
        FileStatus target = listedTarget(item.newName);
        if (target.exists() && target.size < 0)
            target = files.status(targetFolder, item.newName, false);
        if (target.exists())
            layout.takenTargets.set(p, target);
        if (layout.reached == count && !request.overwrite && item.newName == nameOf(p) &&
            files.status(targetFolder, item.newName, true).type == FileStatus::Type::Regular) {
            layout.reached = p;
        }
    }
    // A folder, pipe or device under a new name stops the batch when it is reached: known now,
    // so the batch does not start.
    for (size_t p = 0; p < layout.reached; ++p) {
        const FileStatus::Type type = targets(p).type;
        if (type == FileStatus::Type::Directory || type == FileStatus::Type::Other) {
            layout.blocked = targetFolder.pathOf(plan.items[p].newName);
            layout.blockedIsFolder = type == FileStatus::Type::Directory;
            return layout;
        }
    }

    // Between two folders a step can reach a later source only through a link (a new name or a
    // moved file never changes an entry of the other folder): without one, there is nothing to
    // keep aside, strand or carry.
    bool anyLink = std::any_of(entries.cbegin(), entries.cend(), [](const FileStatus &entry) {
        return entry.type == FileStatus::Type::SymbolicLink;
    });
    if (plan.stop == BatchPlan::Stop::NumberOverflow) {
        for (int j = plan.items.back().entryIndex + 1; j < int(request.entries.size()); ++j) {
            anyLink = anyLink ||
                      (request.entries[size_t(j)].selected &&
                       listed(sourceListed, inSource, sourceFolder, request.entries[size_t(j)].name)
                               .type == FileStatus::Type::SymbolicLink);
        }
    }
    if (!layout.sameFolder && !anyLink)
        return layout;

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
        const FileStatus source = sources(q), target = targets(q);
        if (source.type == FileStatus::Type::Regular &&
            touched.holds(entries[q], source, nameOf(q), layout.sameFolder)) {
            layout.keepAside.push_back(q);
            // The same entry as an earlier new name: the very same name, or one file with a
            // single name (which is how a file system that ignores case shows another spelling).
            if ((layout.sameFolder && earlierNames.contains(nameOf(q))) ||
                (earlierTargets.contains(keyOf(entries[q])) &&
                 files.status(sourceFolder, nameOf(q), false).links == 1))
                layout.nameTakenEarlier.push_back(q);
        }
        if (target.exists()) {
            replaced.add(target);
            touched.add(target);
            earlierTargets.insert(keyOf(target));
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
            touched.add(source);
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
        const FileStatus target = targets(p);
        if (target.type == FileStatus::Type::Regular && target.links == 1 &&
            sourceEntryKeys.contains(keyOf(target)))
            layout.carriedTargets.set(p, target);
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
        const QString &name = request.entries[size_t(entry)].name;
        FileStatus onDisk = listed(sourceListed, inSource, sourceFolder, name);
        FileStatus file = onDisk;
        if (onDisk.type == FileStatus::Type::SymbolicLink) {
            onDisk = files.status(sourceFolder, name, false);
            file = files.status(sourceFolder, name, true);
        }
        if (file.type == FileStatus::Type::Regular &&
            replaced.holds(onDisk, file, name, layout.sameFolder)) {
            layout.stranded = sourceFolder.pathOf(name);
            return layout;
        }
    }
    return layout;
}

/// The state of one running batch.
class RenameJob::Batch
{
    using Place = JobAction::Place;

public:
    Batch(FileOperations &files, ProgressDisplay &progress, const RenameRequest &request,
          const BatchFolders &folders, JobResult &result)
        : m_files(files), m_progress(progress), m_request(request), m_folders(folders),
          m_source(folders.source), m_target(folders.target), m_result(result),
          m_journal(BatchJournal::begin(folders.source, folders.target)), m_temporaries(*this)
    {}

    const QString &sourceName(int entry) const { return m_request.entries[size_t(entry)].name; }
    /// The new name is the source's own entry: its own name in its own folder, and the same
    /// file by identity (two folders that only look alike are never taken for one).
    bool sameEntry(size_t index, const BatchPlan::Item &item, const BatchLayout &layout) const
    {
        return layout.sameFolder && item.newName == sourceName(item.entryIndex) &&
               layout.sourceEntries[index].sameFileAs(layout.targetEntry(index));
    }

    /// Writes the journal naming every hidden file the batch may leave, then keeps aside the
    /// sources that an earlier step replaces or moves.
    bool begin(const BatchPlan &plan, const BatchLayout &layout, const QString &journalFolder)
    {
        const int nameMax = m_files.nameMax(m_target);
        int serial = 0;
        for (const size_t q : layout.keepAside) {
            const BatchPlan::Item &item = plan.items[q];
            const QString &name = sourceName(item.entryIndex);
            const QString keptName = m_journal.keptName(++serial, name, nameMax);
            m_journal.kept.push_back({m_target.pathOf(keptName),
                                      m_source.pathOf(name),
                                      m_target.pathOf(item.newName),
                                      {},
                                      {},
                                      true});
            m_kept.emplace(item.entryIndex,
                           Kept{keptName, layout.sourceEntries[q], layout.sourceFile(q),
                                layout.isNameTakenEarlier(q)});
        }
        m_serial = serial;
        // Only hidden files need a journal: kept sources, and temporaries, which a replace or a
        // folder that takes no unnamed files brings. New files alone appear complete or not at
        // all, and a move is a rename, so the sync is spared.
        const bool replaces = !layout.takenTargets.empty();
        if (m_journal.kept.empty() && !replaces && m_files.writesUnnamedFiles(m_target))
            return true;
        // A trash that keeps copies writes them under the batch's hidden names first.
        if (replaces) {
            if (const QString trash = m_files.trashFolderFor(m_target); !trash.isEmpty())
                m_journal.trashFolders.append(trash);
        }
        const QByteArray bytes = m_journal.toBytes();
        if (bytes.size() > BatchJournal::sizeLimit) {
            check(OpResult::systemFailure(EFBIG), {});
            return false;
        }
        m_journalPath = BatchJournal::pathIn(journalFolder, m_journal.id);
        if (!check(m_files.writeJournal(m_journalPath, bytes), m_journalPath)) {
            m_journalPath.clear();
            return false;
        }
        for (size_t k = 0; k < m_journal.kept.size(); ++k) {
            if (k % 256 == 0)
                m_progress.keepAlive();
            const size_t q = layout.keepAside[k];
            const QString &name = sourceName(plan.items[q].entryIndex);
            const QString &keptName = m_kept.at(plan.items[q].entryIndex).name;
            if (!check(m_files.setAside(m_source, name, m_target, keptName), m_source.pathOf(name)))
                return false;
            m_item = int(q);
            m_itemSource = name;
            note(JobAction::Kind::SetAside, Place::Source, name, keptName);
        }
        m_item = -1;
        m_itemSource.clear();
        return true;
    }

    /// Carries out item `index`; false when the batch ends here.
    bool process(size_t index, const BatchPlan::Item &item, const BatchLayout &layout)
    {
        const int entry = item.entryIndex;
        const QString &source = sourceName(entry);
        m_item = int(index);
        m_itemSource = source;
        m_notToTrash = layout.carriedTarget(index);
        m_targetExists = layout.targetEntry(index).exists();
        m_sourceSeenRegular = layout.sourceEntries[index].type == FileStatus::Type::Regular;
        // A source that was gone when the batch started is not taken from whatever has its
        // name now (a dangling link that an earlier step made point somewhere).
        if (const FileStatus before = layout.sourceFile(index); !before.exists())
            return check(OpResult::systemFailure(before.error ? before.error : ENOENT),
                         m_source.pathOf(source));
        const QString &target = item.newName;

        if (const auto found = m_kept.find(entry); found != m_kept.end()) {
            const Kept kept = found->second;
            m_kept.erase(found);
            const FileStatus entryNow = m_files.status(m_source, source, false);
            const bool entryUnchanged = entryNow.sameFileAs(kept.entryBefore);
            if (kept.nameTakenEarlier || !entryUnchanged ||
                !m_files.status(m_source, source, true).sameFileAs(kept.fileBefore)) {
                // An earlier step replaced the source, or its name is an earlier new name: the
                // content lives on in the kept file.
                if (!carryOutKept(kept.name, target))
                    return false;
                // A link whose file was replaced is still the source: a move takes it away,
                // unless its name is the new name, which now holds the content.
                const bool linkIsTheNewName = layout.sameFolder && target == source;
                if (m_request.move && !kept.nameTakenEarlier && entryUnchanged &&
                    entryNow.type == FileStatus::Type::SymbolicLink && !linkIsTheNewName &&
                    !remove(m_source, source))
                    return false;
                ++m_result.filesDone;
                return true;
            }
            if (!processFrom(index, source, target, sameEntry(index, item, layout), layout))
                return false;
            return remove(m_target, kept.name);
        }
        return processFrom(index, source, target, sameEntry(index, item, layout), layout);
    }

    /// Puts a stopped batch right: kept contents that are no longer in sight come back under
    /// visible names, its hidden files go, and the journal is removed. The record then names
    /// the folders where they are now (renamed meanwhile, they are still the ones worked in).
    void finish()
    {
        m_result.folders.source = m_files.currentPath(m_source);
        m_result.folders.target = m_files.currentPath(m_target);
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
            m_result.recovery = recoverBatch(m_files, m_journal, written, &m_folders);
            m_item = -1;
            const auto nameOf = [](const QString &path) {
                return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
            };
            for (const RecoveryReport::Restored &restored : m_result.recovery.restored) {
                // Brought back from the target folder, home to the source or beside in it.
                m_itemSource = nameOf(restored.original);
                m_result.record.push_back(JobAction{});
                JobAction &action = m_result.record.back();
                action.kind = JobAction::Kind::Restored;
                action.from = m_itemSource;
                action.to = nameOf(restored.now);
                action.toPlace = Paths::folderOf(restored.now) == m_target.path() ? Place::Target
                                                                                  : Place::Source;
                action.source = m_itemSource;
                // What was brought back, so that an undo moves only that very file.
                action.written = m_files.status(
                    action.toPlace == Place::Target ? m_target : m_source, action.to, false);
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
    /// Names for temporaries in the target folder, under the journal's hidden prefix.
    class Temporaries final : public TemporaryNames
    {
    public:
        explicit Temporaries(Batch &batch) : m_batch(batch) {}
        QString next() override { return m_batch.m_journal.temporaryName(++m_batch.m_serial); }

    private:
        Batch &m_batch;
    };

    /// `sameEntry`: the new name is the source's own name in its own folder. What the source
    /// and the new name were comes from the look at the folders before the batch.
    bool processFrom(size_t index, const QString &source, const QString &target, bool sameEntry,
                     const BatchLayout &layout)
    {
        const bool link = layout.sourceEntries[index].type == FileStatus::Type::SymbolicLink;
        if (sameEntry && link) {
            // A link named as its own new name becomes a file with the content it shows, so
            // later steps that move or replace what it points to cannot change it.
            const QString linkText = m_files.linkText(m_source, source);
            WriteReport report;
            if (!checkPair(
                    m_files.copyFile(m_source, source, m_target, target, nextWrite(), &report),
                    m_source, source, target))
                return false;
            note(JobAction::Kind::Replaced, Place::Source, source, target, report);
            m_result.record.back().linkText = linkText;
        } else if (sameEntry || (!m_request.move &&
                                 layout.sourceFile(index).sameFileAs(layout.targetEntry(index)))) {
            // The new name already is this file: it is what the batch asks for.
            note(JobAction::Kind::Kept, Place::Source, source, target);
        } else if (m_request.move) {
            if (!move(m_source, source, target, link))
                return false;
        } else {
            WriteReport report;
            if (!checkPair(
                    m_files.copyFile(m_source, source, m_target, target, nextWrite(), &report),
                    m_source, source, target))
                return false;
            note(report.replaced ? JobAction::Kind::Replaced : JobAction::Kind::Copied,
                 Place::Source, source, target, report);
        }
        ++m_result.filesDone;
        return true;
    }

    bool move(const OpenFolder &folder, const QString &source, const QString &target, bool link)
    {
        // A link's text is kept in the record, so that an undo can make it again.
        const QString linkText = link ? m_files.linkText(folder, source) : QString();
        WriteReport report;
        if (!checkPair(m_files.moveFile(folder, source, m_target, target, nextWrite(), &report),
                       folder, source, target))
            return false;
        const Place from = placeOf(folder);
        if (report.alreadyThere) {
            note(JobAction::Kind::Kept, from, source, target, report);
            noteRemoved(from, source, linkText);
        } else if (report.copied) {
            note(report.replaced ? JobAction::Kind::Replaced : JobAction::Kind::Copied, from,
                 source, target, report);
            if (report.sourceChanged)
                return check(OpResult::failure(sourceChangedText()), folder.pathOf(source));
            if (report.sourceNotRemoved != 0)
                return check(OpResult::failure(sourceNotRemovedText(report.sourceNotRemoved)),
                             folder.pathOf(source));
            if (!report.sourceKept)
                noteRemoved(from, source, linkText);
        } else {
            note(JobAction::Kind::Moved, from, source, target, report);
        }
        return true;
    }

    bool carryOutKept(const QString &kept, const QString &target)
    {
        // A kept file that is a second name of another visible file is copied, so the two new
        // names do not end up as one file.
        if (m_request.move && m_files.status(m_target, kept, false).links <= 1)
            return move(m_target, kept, target, false);
        WriteReport report;
        if (!checkPair(m_files.copyFile(m_target, kept, m_target, target, nextWrite(), &report),
                       m_target, kept, target))
            return false;
        note(report.replaced ? JobAction::Kind::Replaced : JobAction::Kind::Copied, Place::Target,
             kept, target, report);
        return remove(m_target, kept);
    }

    WriteOptions nextWrite()
    {
        WriteOptions options(&m_temporaries, false, true, m_notToTrash);
        options.destinationExists = m_targetExists;
        options.sourceSeenRegular = m_sourceSeenRegular;
        return options;
    }

    /// check() for a step between two files, named both only when it failed.
    bool checkPair(const OpResult &result, const OpenFolder &folder, const QString &from,
                   const QString &to)
    {
        return result ||
               check(result, folder.pathOf(from) + QStringLiteral(" → ") + m_target.pathOf(to));
    }

    bool remove(const OpenFolder &folder, const QString &name)
    {
        // A link's text is kept in the record, so that an undo can make it again.
        const QString linkText = m_files.linkText(folder, name);
        if (!check(m_files.removeFile(folder, name), folder.pathOf(name)))
            return false;
        noteRemoved(placeOf(folder), name, linkText);
        return true;
    }

    void noteRemoved(Place place, const QString &name, const QString &linkText)
    {
        note(JobAction::Kind::Removed, place, name, {});
        m_result.record.back().linkText = linkText;
    }

    Place placeOf(const OpenFolder &folder) const
    {
        return &folder == &m_target ? Place::Target : Place::Source;
    }

    /// Records one action: `from` is a name in `place`, `to` a name in the target folder.
    void note(JobAction::Kind kind, Place place, const QString &from, const QString &to,
              const WriteReport &report = {})
    {
        m_result.record.push_back(JobAction{});
        JobAction &action = m_result.record.back();
        action.kind = kind;
        action.fromPlace = place;
        action.replaced = report.replaced;
        action.item = m_item;
        action.from = from;
        action.to = to;
        action.source = m_itemSource;
        action.written = report.written;
        if (!report.trashedAs.isEmpty())
            action.inTrash =
                std::make_shared<const JobAction::InTrash>(report.trashedAs, report.trashed);
        if (report.replacedNotKept)
            ++m_result.replacedNotKept;
    }

    FileOperations &m_files;
    ProgressDisplay &m_progress;
    const RenameRequest &m_request;
    const BatchFolders &m_folders;
    const OpenFolder &m_source;
    const OpenFolder &m_target;
    JobResult &m_result;
    BatchJournal m_journal;
    Temporaries m_temporaries;
    QString m_journalPath;
    int m_serial = 0;
    struct Kept
    {
        QString name; ///< the hidden name in the target folder
        FileStatus entryBefore;
        FileStatus fileBefore;
        bool nameTakenEarlier;
    };
    std::map<int, Kept> m_kept; ///< entry -> its kept file, until the entry is done
    int m_item = -1;            ///< the plan item being carried out
    QString m_itemSource;
    FileStatus m_notToTrash; ///< the entry the current item may replace without the trash
    bool m_targetExists = false;
    bool m_sourceSeenRegular = false; ///< the current item's source, as the listing saw it
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
    // The batch works in the folders as they are opened now, whatever happens to their paths.
    BatchFolders folders;
    const OpResult sourceOpened = m_files.openFolder(request.sourceFolder, folders.source);
    const OpResult targetOpened = m_files.openFolder(request.targetFolder, folders.target);
    const int nameMax = targetOpened ? m_files.nameMax(folders.target) : 255;
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
    if (plan.stop == BatchPlan::Stop::StartOutOfRange)
        return refuse(startOutOfRangeMessage(request.startNumberText));
    if (plan.nameProblem != NameProblem::None)
        return refuse(nameRefusedMessage(plan, nameMax));
    const BatchLayout layout = layOutBatch(request, plan, m_files, folders.source, folders.target,
                                           [this] { m_progress.keepAlive(); });
    if (!layout.stranded.isEmpty())
        return refuse(strandedMessage(layout));
    if (!layout.blocked.isEmpty())
        return refuse(blockedMessage(layout));

    const int count = int(request.entries.size());
    m_progress.setRange(0, std::max(count - 1, 0));
    m_progress.setVisible(true);
    m_progress.setValue(0);

    result.folders = {request.sourceFolder,   request.targetFolder,    folders.source.device(),
                      folders.source.inode(), folders.target.device(), folders.target.inode()};
    Batch batch(m_files, m_progress, request, folders, result);
    result.record.reserve(plan.items.size() + layout.keepAside.size() * 2);
    const auto interrupt = [&] {
        batch.finish();
        result.undoRecording = m_host.recordForUndo(result);
        if (result.outcome == JobResult::Outcome::Interrupted)
            m_messages.inform(interruptedMessage(result));
        return result;
    };

    // The selected files from list entry `entry` on, which a batch ending early leaves.
    const auto leaveFrom = [&](int entry) {
        for (int j = entry; j < count; ++j) {
            if (request.entries[size_t(j)].selected && result.notStarted++ == 0)
                result.firstNotStarted = folders.source.pathOf(request.entries[size_t(j)].name);
        }
    };
    // Asked for by the user between two files: what was done stays done and recorded.
    const auto stop = [&](size_t item) {
        result.outcome = JobResult::Outcome::Stopped;
        leaveFrom(plan.items[item].entryIndex);
        batch.finish();
        result.undoRecording = m_host.recordForUndo(result);
        m_messages.inform(stoppedMessage(result));
        return result;
    };
    // A folder that cannot be opened stops the batch before its first file.
    if (!plan.items.empty() && (!sourceOpened || !targetOpened)) {
        batch.check(sourceOpened ? targetOpened : sourceOpened, {});
        return interrupt();
    }
    if (!plan.items.empty() && m_progress.stopRequested())
        return stop(0);
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
            if (m_progress.stopRequested())
                return stop(next);
            if (!batch.process(next, plan.items[next], layout))
                return interrupt();
            ++next;
            if (next == plan.items.size() && plan.stop == BatchPlan::Stop::NumberOverflow) {
                // Nothing failed: the files done are complete, the next one is not started.
                leaveFrom(j + 1);
                batch.check(OpResult::failure(
                                QStringLiteral("連番が 2147483647 を超えるため続けられません。")),
                            {});
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

void ItemStatuses::set(size_t item, const FileStatus &status)
{
    if (!m_items.empty() && m_items.back().first == item)
        m_items.back().second = status;
    else
        m_items.emplace_back(item, status);
}

FileStatus ItemStatuses::at(size_t item) const
{
    const auto found = std::lower_bound(m_items.cbegin(), m_items.cend(), item,
                                        [](const std::pair<size_t, FileStatus> &entry,
                                           size_t wanted) { return entry.first < wanted; });
    if (found == m_items.cend() || found->first != item) {
        FileStatus missing;
        missing.error = ENOENT;
        return missing;
    }
    return found->second;
}

QString JobRecordFolders::pathOf(JobAction::Place place, const QString &name) const
{
    return name.isEmpty() ? QString()
                          : Paths::join(place == JobAction::Place::Source ? source : target, name);
}

QString RenameJob::digitCheckMessage()
{
    return QStringLiteral("数値が桁数を越えています。");
}

QString RenameJob::startOutOfRangeMessage(const QString &startNumberText)
{
    return QStringLiteral("開始番号「%1」が扱える範囲（-2147483648 から 2147483647）を超えて"
                          "いるため、リネームを始めませんでした。\r\n"
                          "ファイルは何も変更していません。")
        .arg(FileNames::display(startNumberText));
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
    return text + notStartedLine(result) + restoredLines(result.recovery) + notKeptLine(result) +
           undoLines(result);
}

QString RenameJob::stoppedMessage(const JobResult &result)
{
    return QStringLiteral("リネームを途中で止めました。\r\n止めるまでに処理したファイル: %1 件")
               .arg(result.filesDone) +
           notStartedLine(result) + restoredLines(result.recovery) + notKeptLine(result) +
           undoLines(result);
}

QString RenameJob::notStartedLine(const JobResult &result)
{
    if (result.notStarted == 0)
        return {};
    return QStringLiteral("\r\n処理していないファイル: %1 件（最初のファイル: %2）")
        .arg(result.notStarted)
        .arg(FileNames::display(result.firstNotStarted));
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
               .arg(FileNames::display(plan.refusedName)) +
           reason + QStringLiteral("\r\nファイルは何も変更していません。");
}

QString RenameJob::blockedMessage(const BatchLayout &layout)
{
    const QString what = layout.blockedIsFolder
                             ? QStringLiteral("フォルダー")
                             : QStringLiteral("ファイルではないもの（パイプやデバイスなど）");
    return QStringLiteral("このリネームは途中で止まるため、始めませんでした。\r\n"
                          "新しい名前「%1」には%2があり、置き換えられません。\r\n"
                          "ファイルは何も変更していません。")
        .arg(FileNames::display(layout.blocked), what);
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
