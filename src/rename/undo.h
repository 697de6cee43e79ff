#pragma once

#include "batchjournal.h"
#include "fileoperations.h"
#include "renamejob.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

/// One batch as the undo history keeps it: the job's record of actions.
struct UndoEntry
{
    QByteArray id; ///< tells the batch apart from every other in the history
    int files = 0; ///< files the batch did
    JobRecordFolders folders;
    std::vector<JobAction> record;
    /// The history held a record no batch can have written: its undo moves nothing.
    bool damaged = false;
};

/// The records of the last batches, newest last, as one reading of the history file gives
/// them.
class UndoHistory
{
public:
    static constexpr int capacity = 20;
    static constexpr int actionCapacity = 100000;
    /// The most the file holds; a larger file is no history of ours and is not read.
    static constexpr qint64 byteCapacity = qint64(64) << 20;
    static constexpr char fileName[] = ".kaenami-undo";

    /// A batch that changed files (others are not worth undoing).
    static bool worthKeeping(const JobResult &result);
    /// Adds a batch worth keeping under a new id. The oldest are dropped beyond `capacity`
    /// batches, `actionCapacity` actions or `byteCapacity` bytes; the newest stays unless it
    /// alone is over `byteCapacity`. True when it was added and kept.
    bool push(const JobResult &result);
    /// Adds a batch as the newest, within the same limits.
    void add(UndoEntry entry);
    /// Puts a batch taken out earlier back in its place: after the newest of `older` that is
    /// still here, before the batches added since.
    void restore(UndoEntry entry, const std::vector<QByteArray> &older);
    bool isEmpty() const { return m_entries.empty(); }
    const UndoEntry &newest() const { return m_entries.back().entry; }
    void dropNewest();
    size_t size() const { return m_entries.size(); }
    /// The ids of the batches, oldest first.
    std::vector<QByteArray> ids() const;

    QByteArray toBytes() const;
    /// The history the bytes hold; nothing when they are damaged (a damaged history is no
    /// guide to what is safe to undo). Entries written without an id get one derived from
    /// their bytes. Only the newest batch is read whole; the others are checked line by line
    /// and read when they become the newest. A batch whose lines have the right shape but do
    /// not read is damaged; the others stay.
    static std::optional<UndoHistory> parse(const QByteArray &bytes);
    /// The history the bytes hold, empty when they are damaged.
    static UndoHistory fromBytes(const QByteArray &bytes);
    /// The first line of every history file, with its line end.
    static QByteArray headerLine();

private:
    /// A batch with the bytes the file holds for it: a large history is carried from reading
    /// to writing without reading or writing its actions one by one.
    struct Stored
    {
        UndoEntry entry;
        QByteArray text;
        size_t actions = 0;
        bool read = true; ///< entry.record holds the actions of `text`
    };
    static Stored stored(UndoEntry entry);
    /// Reads the newest batch's actions when they were not read yet; false when a line does
    /// not read (the batch is then damaged).
    bool readNewest();
    /// Drops the oldest batches beyond the limits.
    void fit();
    std::vector<Stored> m_entries;
};

/// The history file, shared by every window and run of the program. Each change reads the
/// file, makes the change and writes it back under the file's lock, so that no run loses
/// another's batches; nothing is kept in memory between changes. A damaged or oversized file
/// is set aside under a visible name beside it, and a new history begins.
class UndoHistoryFile
{
public:
    UndoHistoryFile(FileOperations &files, QString path);

    /// The history as the file holds it now (empty when there is none).
    OpResult read(UndoHistory &history);
    /// Adds the batch when it changed files; a failure says why it cannot be undone.
    OpResult record(const JobResult &result);

    /// A batch taken out of the file for its undo, and the ids of the batches older than it.
    struct Claimed
    {
        UndoEntry entry;
        std::vector<QByteArray> older;
    };
    enum class Claim
    {
        Taken,
        NoLongerNewest, ///< another run undid it or added a batch since: nothing was taken
        Failed
    };
    /// Takes the newest batch out of the file, when it still is the batch `id`.
    Claim claimNewest(const QByteArray &id, Claimed &claimed, OpResult &failure);
    /// Puts a claimed batch back in its place (for an undo that could not start).
    OpResult putBack(const Claimed &claimed);

    /// How many batches the file held after the last call that read it; nothing before one.
    std::optional<size_t> batches() const { return m_batches; }
    /// The line a message gives for damaged histories set aside since the last call, once.
    QString takeSetAsideNote();

    /// The fixed name a change writes under before it renames over the history.
    static QString temporaryPath(const QString &path);
    /// Removes what a killed change left beside the history in `folder`, under its lock.
    static void removeLeftovers(FileOperations &files, const QString &folder);

private:
    /// Locks the file, reads it, lets `edit` change the history (true when it did) and writes
    /// it back. `create` makes a missing file so that it can be locked.
    OpResult change(bool create, const std::function<bool(UndoHistory &)> &edit);
    /// Reads the locked file; `damaged` when it is not a history of ours (or too large to be).
    OpResult readLocked(const FileStatus &locked, UndoHistory &history, bool &damaged);
    OpResult setAsideDamaged();

    FileOperations &m_files;
    QString m_path;
    QStringList m_setAside;
    std::optional<size_t> m_batches;
};

/// The message for a history that cannot be used (another user's, a link, unreadable).
QString historyRefusedMessage(const OpResult &failure);
/// The message when the batch asked about is no longer the newest.
QString undoChangedMessage();

/// What an undo did.
struct UndoReport
{
    bool started = false; ///< something was changed
    /// Nothing was changed for a reason that may pass (a drive away or read-only now): the
    /// batch goes back into the history.
    bool tryAgainLater = false;
    int undone = 0;          ///< items put back
    QStringList leftAlone;   ///< what could not be undone, with why
    RecoveryReport recovery; ///< after a failure on the way
};

/// Undoes one batch from its record, newest action first: files it created are removed when
/// they are still exactly what it wrote, moved files go back to their old names when those are
/// free, replaced files come back from the trash. It never deletes a file it cannot prove it
/// made, nor a content that exists nowhere else. Its own hidden steps are journaled in
/// `journalFolder` like a batch, so a crash during an undo is recovered the same way.
UndoReport undoBatch(FileOperations &files, const UndoEntry &entry, const QString &journalFolder,
                     const std::function<void()> &keepAlive = {});

/// The closing message of an undo; `notPutBack` is why a batch whose undo could not start
/// could not go back into the history (ok when it did).
QString undoMessage(const UndoReport &report, const OpResult &notPutBack = {});
/// The question asked before an undo.
QString undoQuestion(const UndoEntry &entry);
