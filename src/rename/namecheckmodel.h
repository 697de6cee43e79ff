#pragma once

#include "renamejob.h"

#include <QAbstractTableModel>
#include <QStringList>

#include <vector>

/// What a batch would do with each selected entry, worked out from names alone (nothing is read
/// from disk): one row per selected entry in list order, with its old name, its new name and
/// its outcome in the target folder. The target folder's contents are its list of names; source
/// and target are one folder when their paths are the same.
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
        NotProcessed,
    };
    Q_ENUM(Mark)

    /// The row's Mark, as an int.
    static constexpr int MarkRole = Qt::UserRole;

    using QAbstractTableModel::QAbstractTableModel;

    /// Works everything out again. `targetNames` are the exact names of the target folder's
    /// files; its lookup set is rebuilt only when the list is not the one seen last time.
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

    static QString markText(Mark mark, NameProblem problem = NameProblem::None);
    /// The name as the table shows it: kept bytes as U+FFFD, control characters as symbols.
    static QString shownName(const QString &name);

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

    void updateTargetSet(const QStringList &targetNames);

    RenameRequest m_request;
    BatchPlan m_plan;
    std::vector<Row> m_rows;
    QString m_summary;
    QStringList m_targetList; ///< held, so that any change to the shown list detaches from it
    NameIndex m_targetIndex;
    int m_targetSetBuilds = 0;
};
