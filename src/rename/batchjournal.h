#pragma once

#include "fileoperations.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

/// What a batch (or an undo) writes down, synced, before it touches a file: its folders with
/// their identities and where its hidden files lie, so that one cut short (a failure, a crash, a
/// kill) can always be put right.
struct BatchJournal
{
    enum class Kind
    {
        Batch,
        Undo
    };
    /// A content kept under a hidden name in the target folder while the batch runs.
    struct Kept
    {
        Kept(QString kept, QString original, QString target, QString trashedAs = {},
             FileStatus trashed = {}, bool home = true)
            : kept(std::move(kept)), original(std::move(original)), target(std::move(target)),
              trashedAs(std::move(trashedAs)), trashed(trashed), home(home)
        {}

        QString kept;     ///< the hidden file in the target folder holding the content
        QString original; ///< where the content comes back first (the source it was kept for)
        QString target;   ///< the new name the batch gives that content (in the target folder)
        /// An undo's replaced file in the trash, back under `target` once that is free again.
        QString trashedAs;
        FileStatus trashed;
        /// An undo: the content goes back to `original` (the batch took that name), rather than
        /// staying under `target`.
        bool home = true;
    };
    /// A folder's device and inode; both 0 where the journal does not know them.
    struct Identity
    {
        quint64 device = 0;
        quint64 inode = 0;
        bool known() const { return device != 0 || inode != 0; }
        bool matches(const OpenFolder &folder) const
        {
            return !known() || (folder.device() == device && folder.inode() == inode);
        }
    };

    QString id;
    Kind kind = Kind::Batch;
    QString sourceFolder;
    QString targetFolder;
    Identity sourceIdentity;
    Identity targetIdentity;
    /// Trash folders a copy may be written into under one of the batch's hidden names.
    QStringList trashFolders;
    std::vector<Kept> kept;

    /// A journal for a new batch, with a fresh id.
    static BatchJournal begin(const QString &sourceFolder, const QString &targetFolder);
    static BatchJournal begin(const OpenFolder &source, const OpenFolder &target);

    /// Every hidden name of this batch starts with this.
    QString hiddenPrefix() const;
    /// Hidden names of this batch in the target folder: temporaries, and kept files that carry
    /// the name of the file they were kept for (cut to fit `nameMax` bytes), so that they can
    /// be brought back under a visible name even without the journal.
    QString temporaryName(int serial) const;
    QString keptName(int serial, const QString &keptFor = {}, int nameMax = 255) const;
    QString temporaryPath(int serial) const;
    QString keptPath(int serial, const QString &keptFor = {}) const;
    /// The name a kept file of the batch whose hidden names start with `prefix` was kept for,
    /// as far as its own name tells; empty when it carries none or is no kept file.
    static QString keptForOf(const QString &keptName, const QString &prefix);

    QByteArray toBytes() const;
    static std::optional<BatchJournal> fromBytes(const QByteArray &bytes);
    /// What can still be read of a damaged journal: the id, kind and folders whose lines are
    /// whole. Nothing is acted on from it but the batch's own hidden names.
    static BatchJournal salvage(const QByteArray &bytes);

    /// The journal file of batch `id` in `folder`.
    static QString pathIn(const QString &folder, const QString &id);
    static QString fileNamePrefix();
    /// The longest journal a batch may write (and recovery reads).
    static constexpr qint64 sizeLimit = 64 << 20;

private:
    mutable QString m_temporaryStem; ///< the prefix of the temporary names
};

/// What putting a batch right did.
struct RecoveryReport
{
    struct Restored
    {
        QString original; ///< whose content it is
        QString now;      ///< the visible name it has again
    };
    std::vector<Restored> restored;
    int leftoversRemoved = 0;
    QStringList problems; ///< what could not be put right, with the reason
};

/// The batch's folders as it holds them open, for putting it right in the same run.
struct BatchFolders
{
    OpenFolder source;
    OpenFolder target;
};

/// Brings every kept content that is no longer in a visible file back under a visible name
/// (its original name when that is free, an undo's new name next, else one beside it) and
/// removes the batch's other hidden files, in its folders and in its trash. Kept files whose
/// content is still in sight are removed. An undo's replaced files come back from the trash
/// under names that are free again. Folders are opened by their paths unless `open` gives
/// them; a folder whose identity is not the one recorded is not acted on.
/// `alsoInSight` names further files of the target folder a kept content may live on in (a
/// stopped batch knows the files it wrote).
RecoveryReport recoverBatch(FileOperations &files, const BatchJournal &journal,
                            const QStringList &alsoInSight = {},
                            const BatchFolders *open = nullptr);

/// Start-up: recovers every journal in `folder` that no running batch holds, removes it, and
/// returns one message saying what was recovered (empty when there was nothing to recover).
QString recoverAbandonedBatches(FileOperations &files, const QString &folder);

/// The lines a message gives for recovered contents.
QString restoredLines(const RecoveryReport &report);
