#pragma once

#include "batchjournal.h"
#include "fileoperations.h"
#include "messageboxes.h"

#include <QString>
#include <QStringList>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

/// One entry of the source file list, in list order.
struct SourceEntry
{
    QString name;
    bool selected = false;
};

/// Everything a batch reads, taken as it stands when the batch starts.
struct RenameRequest
{
    QString baseName;
    QString startNumberText;
    QString digitCountText; ///< the selected digit count, empty when none is selected
    QString extension;
    bool move = false;
    bool overwrite = false;
    QString sourceFolder;
    std::vector<SourceEntry> entries;
    QString targetFolder;
};

/// Why a new name cannot be used: it must be one plain, visible file name in the target folder.
enum class NameProblem
{
    None,
    Slash,   ///< "/" would put the file into another folder
    Control, ///< NUL or another control character (U+0000 to U+001F, U+007F)
    Dot,     ///< "." or ".."
    Hidden,  ///< a leading "." hides the file from every list
    TooLong, ///< longer than the file system takes
};

/// The new names of a batch, computed without touching a file.
struct BatchPlan
{
    struct Item
    {
        int entryIndex;
        QString newName;
    };
    enum class Stop
    {
        None,
        StartOutOfRange, ///< the start number does not fit 32 bits: nothing is done
        /// The last item took number 2147483647 with selected entries left: the batch stops
        /// after it.
        NumberOverflow,
    };

    bool digitCheckPassed = false;
    std::vector<Item> items;
    Stop stop = Stop::None;
    /// The first new name that cannot be used, and why; the batch is then refused whole.
    NameProblem nameProblem = NameProblem::None;
    QString refusedName;
};

/// Digit check, naming and the name check for every selected entry in list order. `nameMax`
/// is the target file system's longest name in bytes.
BatchPlan planBatch(const RenameRequest &request, int nameMax = 255);

/// What a new name would be refused for.
NameProblem checkNewName(const QString &name, int nameMax);

/// Statuses of some plan items, in item order: most items have none (a new name that is free,
/// a source that is no link), so a batch of many files keeps only the few that matter.
class ItemStatuses
{
public:
    /// Items are set in increasing order (setting the last one again replaces it).
    void set(size_t item, const FileStatus &status);
    /// The item's status; Missing when it has none.
    FileStatus at(size_t item) const;
    bool empty() const { return m_items.empty(); }
    size_t size() const { return m_items.size(); }

private:
    std::vector<std::pair<size_t, FileStatus>> m_items;
};

/// What the batch will do, worked out from the plan and the files as they are before it starts.
struct BatchLayout
{
    /// How many plan items run before a stop that the plan foresees (the same-name stop).
    size_t reached = 0;
    /// Items whose source must be kept aside first: an earlier step replaces or moves its file.
    std::vector<size_t> keepAside;
    /// Kept items whose source name is itself an earlier item's new name: their content is
    /// taken from the kept file, and the name is left to the earlier item.
    std::vector<size_t> nameTakenEarlier;
    /// Per plan item: its source as a directory entry (links not followed), before the batch.
    std::vector<FileStatus> sourceEntries;
    /// Where a source is a link: the file it resolves to (every other source is its entry).
    ItemStatuses linkedFiles;
    /// Per plan item whose new name is taken before the batch: that directory entry.
    ItemStatuses takenTargets;
    /// Source and target are one folder (one directory, or the same one seen twice).
    bool sameFolder = false;
    /// Per plan item: the source entry standing under the new name whose content the batch
    /// carries on (kept aside, or done earlier), which may be replaced without the trash; none
    /// where anything else stands there. Whatever stands under the name when it is written,
    /// if not this very entry, goes to the trash.
    ItemStatuses carriedTargets;
    /// A selected source that an earlier step would replace while the batch stops before it
    /// is reached (its content would be lost): the batch is refused. Empty when none.
    QString stranded;
    bool strandedBySameName = false;
    /// A folder or other entry that is no file under a new name the batch reaches: it would
    /// stop there, so it is refused. Empty when none.
    QString blocked;
    bool blockedIsFolder = false;

    /// The file item `p`'s source resolves to.
    FileStatus sourceFile(size_t p) const
    {
        return sourceEntries[p].type == FileStatus::Type::SymbolicLink ? linkedFiles.at(p)
                                                                       : sourceEntries[p];
    }
    FileStatus targetEntry(size_t p) const { return takenTargets.at(p); }
    FileStatus carriedTarget(size_t p) const { return carriedTargets.at(p); }
    bool isNameTakenEarlier(size_t p) const
    {
        return std::binary_search(nameTakenEarlier.cbegin(), nameTakenEarlier.cend(), p);
    }
};

/// Looks at the sources and new names on disk (nothing is changed). Files are compared as
/// resolved locations (device and inode), never as text.
/// `keepAlive` is called now and then while many files are looked at.
BatchLayout layOutBatch(const RenameRequest &request, const BatchPlan &plan, FileOperations &files,
                        const OpenFolder &sourceFolder, const OpenFolder &targetFolder,
                        const std::function<void()> &keepAlive = {});
/// The same, with the folders opened by the request's paths.
BatchLayout layOutBatch(const RenameRequest &request, const BatchPlan &plan, FileOperations &files,
                        const std::function<void()> &keepAlive = {});

/// The bar that follows a batch.
class ProgressDisplay
{
public:
    virtual ~ProgressDisplay() = default;
    /// `maximum` is never below `minimum`; a batch of one entry or none gives 0 to 0.
    virtual void setRange(int minimum, int maximum) = 0;
    virtual void setValue(int value) = 0;
    virtual void setVisible(bool visible) = 0;
    /// Called often during long steps (checks before the batch, long copies); a display on a
    /// window lets the event loop run now and then. Displays without one need nothing.
    virtual void keepAlive() {}
    /// Asked between two files: the user wants the batch to stop after the file it was on.
    virtual bool stopRequested() { return false; }
};

struct JobResult;

/// What became of a batch's record for a later undo.
struct UndoRecording
{
    OpResult saved; ///< a failure says why the batch cannot be undone
    QString note;   ///< a further line for the closing message, empty for none
};

/// The window's steps after a batch, in the order the job calls them.
class JobHost
{
public:
    virtual ~JobHost() = default;
    /// Keeps the record of a batch that ran (completed or cut short) for a later undo, before
    /// its closing message.
    virtual UndoRecording recordForUndo(const JobResult &result) = 0;
    /// Re-reads both file lists; the first failure, if any.
    virtual OpResult refreshLists() = 0;
    virtual OpResult saveData() = 0;
    virtual void focusBaseName() = 0;
};

/// One action carried out on the file system, so a batch can tell exactly what it did. Names are
/// bare names in one of the batch's two folders (JobRecordFolders), shared with the request and
/// the plan rather than copied, so that a record of many files stays small.
struct JobAction
{
    enum class Kind : quint8
    {
        Copied,
        Replaced,
        Moved,
        Removed,
        SetAside,
        Kept,    ///< the new name already was this file: nothing was written
        Restored ///< a kept content brought back under a visible name after a stop
    };
    /// Which of the batch's folders a name lies in.
    enum class Place : quint8
    {
        Source,
        Target
    };
    /// What a replace kept in the trash: where it lies (under the trash's files/) and what it
    /// was.
    struct InTrash
    {
        QString trashedAs;
        FileStatus trashed;
    };

    Kind kind = Kind::Copied;
    Place fromPlace = Place::Source;
    Place toPlace = Place::Target;
    /// A move that replaced an existing file of the new name.
    bool replaced = false;
    /// The plan item the action belongs to (-1 for none).
    int item = -1;
    QString from; ///< a name in `fromPlace`
    QString to;   ///< a name in `toPlace`; empty for Removed
    /// The item's source (a name in the source folder), so that the record says whose content
    /// went where even when it was read from a kept file.
    QString source;
    /// For Copied, Replaced, Moved and Kept: the file at `to` as the batch left it.
    FileStatus written;
    std::shared_ptr<const InTrash> inTrash; ///< none when nothing was kept in the trash
    /// Removed: the text of the symbolic link that was removed.
    QString linkText;

    QString trashedAs() const { return inTrash ? inTrash->trashedAs : QString(); }
    FileStatus trashed() const { return inTrash ? inTrash->trashed : FileStatus(); }
};

/// The folders the names of a record lie in, as the batch opened them.
struct JobRecordFolders
{
    QString source;
    QString target;
    /// The folders' identities (device and inode), so that a later undo acts only on the very
    /// folders the batch worked in; 0 where not known.
    quint64 sourceDevice = 0;
    quint64 sourceInode = 0;
    quint64 targetDevice = 0;
    quint64 targetInode = 0;

    QString pathOf(JobAction::Place place, const QString &name) const;
    /// The full paths of an action's names.
    QString fromPath(const JobAction &action) const
    {
        return pathOf(action.fromPlace, action.from);
    }
    QString toPath(const JobAction &action) const { return pathOf(action.toPlace, action.to); }
    QString sourcePath(const JobAction &action) const
    {
        return pathOf(JobAction::Place::Source, action.source);
    }
};

struct JobResult
{
    enum class Outcome
    {
        DigitCheckFailed,
        Refused, ///< a new name cannot be used, or a source would be lost: nothing was touched
        SameNameStop,
        Interrupted,
        Stopped, ///< the user stopped it between two files
        Completed
    };
    Outcome outcome = Outcome::Completed;
    int filesDone = 0;
    JobRecordFolders folders;
    std::vector<JobAction> record;
    OpResult failure; ///< the failure that interrupted the batch
    /// Kept contents brought back under visible names after the batch stopped early.
    RecoveryReport recovery;
    /// Replaced files that no usable trash could keep.
    int replacedNotKept = 0;
    struct CompletionFailure
    {
        QString step; ///< what was not done, as the message names it
        OpResult failure;
    };
    /// Every file was done, but these completion steps failed.
    std::vector<CompletionFailure> completionFailures;
    QString refusal; ///< the message of a refused batch
    UndoRecording undoRecording;
    /// A batch stopped or ended at the number limit: the selected files it did not reach, and
    /// the first of them (a path in the source folder; empty when none is left).
    int notStarted = 0;
    QString firstNotStarted;
};

/// The rename batch: numbered copies (or moves) of the selected source files in the target
/// folder, with its checks, progress and completion steps.
class RenameJob
{
public:
    /// `journalFolder` holds the batch journal while a batch runs.
    RenameJob(FileOperations &files, ProgressDisplay &progress, MessageBoxes &messages,
              JobHost &host, QString journalFolder);
    JobResult run(const RenameRequest &request);

    static QString digitCheckMessage();
    static QString startOutOfRangeMessage(const QString &startNumberText);
    static QString sameNameMessage();
    static QString completedMessage();
    static QString interruptedMessage(const JobResult &result);
    static QString stoppedMessage(const JobResult &result);
    static QString completedWithFailuresMessage(const JobResult &result);
    static QString nameRefusedMessage(const BatchPlan &plan, int nameMax);
    static QString strandedMessage(const BatchLayout &layout);
    static QString blockedMessage(const BatchLayout &layout);
    /// The line a closing message adds for the files a batch ending early did not reach.
    static QString notStartedLine(const JobResult &result);
    /// The line a closing message adds for replaced files the trash could not keep.
    static QString notKeptLine(const JobResult &result);
    /// The lines a closing message adds when the batch's record could not be kept for undo.
    static QString undoLines(const JobResult &result);

private:
    class Batch;
    FileOperations &m_files;
    ProgressDisplay &m_progress;
    MessageBoxes &m_messages;
    JobHost &m_host;
    QString m_journalFolder;
};
