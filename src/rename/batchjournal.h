#pragma once

#include "fileoperations.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

/// What a batch writes down, synced, before it touches a file: where its hidden files lie, so
/// that a batch cut short (a failure, a crash, a kill) can always be put right.
struct BatchJournal
{
    /// A source kept aside under a hidden name because an earlier step replaces its file.
    struct Kept
    {
        QString kept;     ///< the hidden name holding the content
        QString original; ///< the source it was kept for
        QString target;   ///< the new name the batch gives that content
    };

    QString id;
    QString sourceFolder;
    QString targetFolder;
    std::vector<Kept> kept;

    /// A journal for a new batch, with a fresh id.
    static BatchJournal begin(const QString &sourceFolder, const QString &targetFolder);

    /// Hidden names of this batch in the target folder.
    QString temporaryPath(int serial) const;
    QString keptPath(int serial) const;
    /// Every hidden name of this batch starts with this.
    QString hiddenPrefix() const;

    QByteArray toBytes() const;
    static std::optional<BatchJournal> fromBytes(const QByteArray &bytes);

    /// The journal file of batch `id` in `folder`.
    static QString pathIn(const QString &folder, const QString &id);
    static QString fileNamePrefix();

private:
    mutable QString m_temporaryStem; ///< folder and prefix of the temporary names
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

/// Brings every kept content that is no longer in a visible file back under a visible name
/// (its original name when that is free, else one beside it) and removes the batch's other
/// hidden files. Kept files whose content is still in sight are removed.
/// `alsoInSight` names further visible files a kept content may live on in (a stopped batch
/// knows the files it wrote).
RecoveryReport recoverBatch(FileOperations &files, const BatchJournal &journal,
                            const QStringList &alsoInSight = {});

/// Start-up: recovers every journal in `folder` that no running batch holds, removes it, and
/// returns one message saying what was recovered (empty when there was nothing to recover).
QString recoverAbandonedBatches(FileOperations &files, const QString &folder);

/// The lines a message gives for recovered contents.
QString restoredLines(const RecoveryReport &report);
