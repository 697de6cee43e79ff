#pragma once

#include "batchjournal.h"
#include "fileoperations.h"
#include "renamejob.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

/// One batch as the undo history keeps it: the job's record of actions.
struct UndoEntry
{
    int files = 0; ///< files the batch did
    std::vector<JobAction> record;
};

/// The records of the last batches, newest last, kept in a small file beside the settings.
class UndoHistory
{
public:
    static constexpr int capacity = 20;
    static constexpr int actionCapacity = 100000;
    static constexpr char fileName[] = ".kaenami-undo";

    /// Reads the history; a missing or unreadable file is an empty history.
    void load(FileOperations &files, const QString &path);
    OpResult save(FileOperations &files, const QString &path) const;

    /// Adds a batch that changed files (others are not worth undoing); the oldest beyond
    /// `capacity` are dropped. True when it was added.
    bool push(const JobResult &result);
    bool isEmpty() const { return m_entries.empty(); }
    const UndoEntry &newest() const { return m_entries.back(); }
    void dropNewest() { m_entries.pop_back(); }
    size_t size() const { return m_entries.size(); }

    QByteArray toBytes() const;
    static UndoHistory fromBytes(const QByteArray &bytes);

private:
    std::vector<UndoEntry> m_entries;
};

/// What an undo did.
struct UndoReport
{
    bool started = false;    ///< false when nothing was touched (a damaged record, no journal)
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

/// The closing message of an undo.
QString undoMessage(const UndoReport &report);
/// The question asked before an undo.
QString undoQuestion(const UndoEntry &entry);
