#pragma once

#include "renamejob.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QStringList>

#include <vector>

/// What a batch would do with each selected entry: one row per selected entry in list order,
/// with its old name, its new name and its outcome in the target folder, decided by the rules
/// the job follows. The target folder's files are its list of names. Handed file operations,
/// the model also reads the folders where names alone cannot tell (whether two paths are one
/// folder, whether the drive ignores letter case, what else stands under a new name, which
/// sources are links), once per target list or folder; typing reuses what it read. Without
/// them, source and target are one folder when their paths are the same.
class NameCheckModel final : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column
    {
        OldNameColumn,
        NewNameColumn,
        OutcomeColumn,
        ColumnCount
    };

    enum class Mark
    {
        New,
        /// The new name is a later source's name in the same folder: that file is kept aside
        /// and renamed in turn, so nothing is replaced.
        NewBesideRenamed,
        /// A file that is no source of the batch: it goes to the trash.
        Replaced,
        /// An earlier source, copied to its own new name already: nothing goes to the trash.
        ReplacedSource,
        Unchanged, ///< the new name already is this entry's name in its own folder
        SameNameStop,
        NumberLimit,
        Refused,
        /// A source that an earlier step would replace while the batch stops before it.
        Stranded,
        /// A folder, pipe or device under the new name: the batch is refused.
        Blocked,
        NotProcessed,
    };
    Q_ENUM(Mark)

    /// The row's Mark, as an int.
    static constexpr int MarkRole = Qt::UserRole;

    using QAbstractTableModel::QAbstractTableModel;

    /// The file operations the folders are read through; none (the default) for names alone.
    void setFileOperations(FileOperations *files);

    /// Works everything out again. `targetNames` are the exact names of the target folder's
    /// files; its lookup set, and what is read from the folders, are renewed only when the
    /// list is not the one seen last time or a folder is another one.
    void setRequest(RenameRequest request, const QStringList &targetNames, int nameMax = 255);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    Mark mark(int row) const { return m_rows[size_t(row)].mark; }
    /// The exact new name of a row; empty when the row gets none.
    QString newName(int row) const;
    /// One line on the whole batch, or the message that stops it before it starts.
    QString summary() const { return m_summary; }
    /// How often the target name set was built (it should follow list changes only).
    int targetSetBuilds() const { return m_targetSetBuilds; }
    /// How often the new names were worked out (a new target list alone needs none).
    int planBuilds() const { return m_planBuilds; }

    static QString markText(Mark mark, NameProblem problem = NameProblem::None);

private:
    struct Row
    {
        int entryIndex;
        int planItem; ///< -1 when the row gets no new name
        Mark mark;
        NameProblem problem;
    };

    /// Exact names found through stored hashes, so that a miss rarely reads a string (numbered
    /// names all have the same length, which makes plain string sets compare many of them).
    class NameIndex
    {
    public:
        /// `nameAt(i)` gives the i-th name; it must stay valid while the index is used.
        template <typename NameAt> void build(qsizetype count, NameAt nameAt);
        /// The index of `name`, or -1.
        template <typename NameAt> qsizetype find(const QString &name, NameAt nameAt) const;

    private:
        struct Slot
        {
            quint32 tag = 0;
            qint32 index = -1; ///< -1: free
        };
        std::vector<Slot> m_slots;
    };

    class Check;

    /// What was read from the folders, kept while the target list and the folders stay.
    struct Folders
    {
        bool read = false; ///< false: names alone
        OpenFolder target;
        quint64 sourceDevice = 0, sourceInode = 0, targetDevice = 0, targetInode = 0;
        bool sameFolder = false;
        bool ignoresCase = false; ///< the target folder finds names in any letter case
        int nameMax = 255;
        /// The target folder's entries that are no regular file (links not followed).
        QHash<QString, FileStatus> targetEntries;
        /// Compared names of visible target entries that are no file (folders, pipes and
        /// devices, links to no file) -> their listed names.
        QHash<QString, QString> others;
        /// Compared names of target files that are links to files.
        QHash<QString, bool> fileLinks;
        /// Source entries that are links -> the file each resolves to.
        QHash<QString, FileStatus> sourceLinks;
    };

    bool sameEntries(const RenameRequest &request, bool selectionToo) const;
    void lookAtFolders(const RenameRequest &request, const QStringList &targetNames,
                       bool namesKept);
    void readTarget(const OpenFolder &target, const QStringList &targetNames);
    void readSourceLinks(const OpenFolder &source);
    bool isTargetList(const QStringList &targetNames) const;
    void makeSelectedIndex(const RenameRequest &request);
    void updateTargetSet(const QStringList &targetNames);
    /// A name as the target folder compares it.
    QString compared(const QString &name) const;

    FileOperations *m_files = nullptr;
    Folders m_folders;
    bool m_haveRequest = false;
    int m_nameMax = 255;
    RenameRequest m_request;
    BatchPlan m_plan;
    int m_planBuilds = 0;
    std::vector<Row> m_rows;
    QString m_summary;
    QString m_blockedName; ///< the entry that stops the batch, as listed
    bool m_blockedIsFolder = false;
    QStringList m_targetList; ///< held, so that any change to the shown list detaches from it
    bool m_targetKeysFolded = false;
    std::vector<QString> m_foldedTargets; ///< the list's names folded, on drives ignoring case
    NameIndex m_targetIndex;
    int m_targetSetBuilds = 0;
    /// Selected entries by compared name, for one folder: kept while the entries stay.
    std::vector<int> m_selectedEntries;
    std::vector<QString> m_selectedKeys;
    NameIndex m_selectedIndex;
    bool m_selectedIndexMade = false;
};
