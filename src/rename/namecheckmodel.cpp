#include "namecheckmodel.h"

#include "filenames.h"
#include "paths.h"

namespace {

QString oneBlock(QString message)
{
    return message.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

quint64 nameHash(const QString &name)
{
    return qHash(QStringView(name), size_t(0));
}

} // namespace

template <typename NameAt> void NameCheckModel::NameIndex::build(qsizetype count, NameAt nameAt)
{
    // At most half full: linear probing then stops after a slot or two.
    size_t capacity = 16;
    while (capacity < size_t(count) * 2)
        capacity *= 2;
    m_slots.assign(capacity, Slot{});
    const size_t mask = capacity - 1;
    for (qsizetype i = 0; i < count; ++i) {
        const quint64 hash = nameHash(nameAt(i));
        size_t at = size_t(hash) & mask;
        while (m_slots[at].index >= 0)
            at = (at + 1) & mask;
        m_slots[at] = {quint32(hash >> 32), qint32(i)};
    }
}

template <typename NameAt>
qsizetype NameCheckModel::NameIndex::find(const QString &name, NameAt nameAt) const
{
    if (m_slots.empty())
        return -1;
    const quint64 hash = nameHash(name);
    const quint32 tag = quint32(hash >> 32);
    const size_t mask = m_slots.size() - 1;
    for (size_t at = size_t(hash) & mask; m_slots[at].index >= 0; at = (at + 1) & mask) {
        const Slot &slot = m_slots[at];
        if (slot.tag == tag && nameAt(slot.index) == name)
            return slot.index;
    }
    return -1;
}

/// Works out the rows and the summary of one request, mirroring the order of the job's checks:
/// digits, unusable names, stranded sources, then the steps themselves.
class NameCheckModel::Check
{
public:
    Check(const RenameRequest &request, const BatchPlan &plan, const NameIndex &targetIndex,
          const QStringList &targets, int nameMax)
        : m_request(request), m_plan(plan), m_targetIndex(targetIndex), m_targets(targets),
          m_nameMax(nameMax), m_sameFolder(request.sourceFolder == request.targetFolder)
    {}

    void run()
    {
        if (!m_plan.digitCheckPassed) {
            summary = RenameJob::digitCheckMessage();
            return;
        }
        // Plan items are the first selected entries in list order, so row p is item p.
        for (int j = 0; j < int(m_request.entries.size()); ++j) {
            if (!m_request.entries[size_t(j)].selected)
                continue;
            const int item = rows.size() < m_plan.items.size() ? int(rows.size()) : -1;
            rows.push_back({j, item, Mark::NotProcessed, NameProblem::None});
        }
        if (m_plan.stop == BatchPlan::Stop::StartOutOfRange) {
            summary = RenameJob::startOutOfRangeMessage(m_request.startNumberText);
            return;
        }
        if (m_plan.nameProblem != NameProblem::None) {
            markRefused();
            return;
        }
        m_reached = sameNameStop();
        if (m_sameFolder && markStranded())
            return;
        markSteps();
    }

    std::vector<Row> rows;
    QString summary;

private:
    const QString &ownName(size_t item) const
    {
        return m_request.entries[size_t(m_plan.items[item].entryIndex)].name;
    }

    const QString &rowName(size_t row) const
    {
        return m_request.entries[size_t(rows[row].entryIndex)].name;
    }

    bool inTarget(const QString &name) const
    {
        return m_targetIndex.find(
                   name, [this](qsizetype i) -> const QString & { return m_targets[i]; }) >= 0;
    }

    void markRefused()
    {
        for (size_t p = 0; p < m_plan.items.size(); ++p) {
            rows[p].problem = checkNewName(m_plan.items[p].newName, m_nameMax);
            if (rows[p].problem != NameProblem::None)
                rows[p].mark = Mark::Refused;
        }
        summary = oneBlock(RenameJob::nameRefusedMessage(m_plan, m_nameMax));
    }

    /// The first item that is its own name already in the target folder, with overwriting off.
    size_t sameNameStop() const
    {
        const size_t count = m_plan.items.size();
        if (m_request.overwrite)
            return count;
        for (size_t p = 0; p < count; ++p) {
            const QString &name = m_plan.items[p].newName;
            if (name == ownName(p) && inTarget(name))
                return p;
        }
        return count;
    }

    /// In one folder, a selected source that the batch never reaches, while an earlier step
    /// takes its name, would be lost: the job refuses the whole batch. Letter case is ignored,
    /// as the job does for file systems that ignore it.
    bool markStranded()
    {
        // Past a same-name stop only the plan's items count, as in the job.
        const size_t end = m_reached < m_plan.items.size() ? m_plan.items.size() : rows.size();
        if (m_reached == end)
            return false;
        std::vector<QString> folded;
        folded.reserve(end - m_reached);
        for (size_t r = m_reached; r < end; ++r)
            folded.push_back(rowName(r).toCaseFolded());
        const auto unreachedName = [&](qsizetype i) -> const QString & {
            return folded[size_t(i)];
        };
        NameIndex unreached;
        unreached.build(qsizetype(folded.size()), unreachedName);
        size_t stranded = rows.size();
        for (size_t p = 0; p < m_reached; ++p) {
            const qsizetype found =
                unreached.find(m_plan.items[p].newName.toCaseFolded(), unreachedName);
            if (found >= 0)
                stranded = std::min(stranded, m_reached + size_t(found));
        }
        if (stranded == rows.size())
            return false;
        rows[stranded].mark = Mark::Stranded;
        BatchLayout layout;
        layout.stranded = Paths::join(m_request.sourceFolder, rowName(stranded));
        layout.strandedBySameName = m_reached < m_plan.items.size();
        summary = oneBlock(RenameJob::strandedMessage(layout));
        return true;
    }

    void markSteps()
    {
        // Which reached item has a given source name; needed only in one folder, and only
        // once a new name is taken.
        const auto sourceName = [this](qsizetype q) -> const QString & {
            return ownName(size_t(q));
        };
        NameIndex sources;
        bool sourcesBuilt = false;
        for (size_t p = 0; p < m_reached; ++p) {
            const QString &name = m_plan.items[p].newName;
            Mark &mark = rows[p].mark;
            if (m_sameFolder && name == ownName(p)) {
                mark = Mark::Unchanged;
            } else if (!inTarget(name)) {
                mark = Mark::New;
            } else if (m_sameFolder) {
                if (!sourcesBuilt) {
                    sources.build(qsizetype(m_reached), sourceName);
                    sourcesBuilt = true;
                }
                const qsizetype source = sources.find(name, sourceName);
                if (source < 0)
                    mark = Mark::Replaced;
                else if (size_t(source) > p) // kept aside before the batch, renamed in turn
                    mark = Mark::NewBesideRenamed;
                else // an earlier source: moved away already, or copied and now replaced
                    mark = m_request.move ? Mark::New : Mark::ReplacedSource;
            } else {
                mark = Mark::Replaced;
            }
        }
        size_t stopRow = rows.size();
        if (m_reached < m_plan.items.size()) {
            stopRow = m_reached;
            rows[stopRow].mark = Mark::SameNameStop;
        } else if (m_plan.stop == BatchPlan::Stop::NumberOverflow &&
                   rows.size() > m_plan.items.size()) {
            stopRow = m_plan.items.size();
            rows[stopRow].mark = Mark::NumberLimit;
        }
        summary = countsText(stopRow);
    }

    QString countsText(size_t stopRow) const
    {
        if (rows.empty())
            return QStringLiteral("選択されたファイルはありません。");
        int created = 0, replaced = 0, unchanged = 0;
        for (const Row &row : rows) {
            created += row.mark == Mark::New || row.mark == Mark::NewBesideRenamed;
            replaced += row.mark == Mark::Replaced || row.mark == Mark::ReplacedSource;
            unchanged += row.mark == Mark::Unchanged;
        }
        QStringList parts;
        if (created > 0)
            parts.append(QStringLiteral("新規 %1").arg(created));
        if (replaced > 0)
            parts.append(QStringLiteral("置き換え %1").arg(replaced));
        if (unchanged > 0)
            parts.append(QStringLiteral("変更なし %1").arg(unchanged));
        if (parts.isEmpty())
            parts.append(QStringLiteral("処理されるファイルはありません"));
        QString text =
            QStringLiteral("%1 件: ").arg(rows.size()) + parts.join(QStringLiteral("、"));
        if (stopRow < rows.size() && rows[stopRow].mark == Mark::SameNameStop) {
            text += QStringLiteral("。%1 行目で停止（同じ名前があり、上書きしない設定）")
                        .arg(stopRow + 1);
        } else if (m_plan.stop == BatchPlan::Stop::NumberOverflow) {
            text += QStringLiteral("。連番が上限の 2147483647 に達するため、%1 行目のあとで中断")
                        .arg(m_plan.items.size());
        }
        return text;
    }

    const RenameRequest &m_request;
    const BatchPlan &m_plan;
    const NameIndex &m_targetIndex;
    const QStringList &m_targets;
    const int m_nameMax;
    const bool m_sameFolder;
    size_t m_reached = 0;
};

void NameCheckModel::setRequest(RenameRequest request, const QStringList &targetNames, int nameMax)
{
    updateTargetSet(targetNames);
    BatchPlan plan = planBatch(request, nameMax);
    Check check(request, plan, m_targetIndex, m_targetList, nameMax);
    check.run();

    // The same rows keep the view's scroll position and current cell.
    const bool sameShape = check.rows.size() == m_rows.size();
    if (!sameShape)
        beginResetModel();
    m_request = std::move(request);
    m_plan = std::move(plan);
    m_rows = std::move(check.rows);
    m_summary = std::move(check.summary);
    if (!sameShape)
        endResetModel();
    else if (!m_rows.empty())
        Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
}

void NameCheckModel::updateTargetSet(const QStringList &targetNames)
{
    // Holding the last list keeps its buffer alive: a changed list cannot share it.
    if (m_targetSetBuilds > 0 && targetNames.constData() == m_targetList.constData() &&
        targetNames.size() == m_targetList.size())
        return;
    m_targetList = targetNames;
    m_targetIndex.build(m_targetList.size(),
                        [this](qsizetype i) -> const QString & { return m_targetList.at(i); });
    ++m_targetSetBuilds;
}

int NameCheckModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int NameCheckModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString NameCheckModel::newName(int row) const
{
    const int item = m_rows[size_t(row)].planItem;
    return item < 0 ? QString() : m_plan.items[size_t(item)].newName;
}

QVariant NameCheckModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Row &row = m_rows[size_t(index.row())];
    if (role == MarkRole)
        return int(row.mark);
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    // Shown text is made here, for the few rows on screen, not for every row on each update.
    switch (index.column()) {
    case OldNameColumn:
        return shownName(m_request.entries[size_t(row.entryIndex)].name);
    case NewNameColumn:
        return shownName(newName(index.row()));
    case OutcomeColumn:
        return markText(row.mark, row.problem);
    default:
        return {};
    }
}

QVariant NameCheckModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Vertical)
        return section + 1;
    switch (section) {
    case OldNameColumn:
        return QStringLiteral("元の名前");
    case NewNameColumn:
        return QStringLiteral("新しい名前");
    case OutcomeColumn:
        return QStringLiteral("結果");
    default:
        return {};
    }
}

QString NameCheckModel::markText(Mark mark, NameProblem problem)
{
    switch (mark) {
    case Mark::New:
        return QStringLiteral("新規");
    case Mark::NewBesideRenamed:
        return QStringLiteral("新規（同じ名前の元のファイルも改名）");
    case Mark::Replaced:
        return QStringLiteral("置き換え（元のファイルはごみ箱へ）");
    case Mark::ReplacedSource:
        return QStringLiteral("置き換え（元のファイルはコピー済み）");
    case Mark::Unchanged:
        return QStringLiteral("変更なし（すでにこの名前）");
    case Mark::SameNameStop:
        return QStringLiteral("同じ名前のため停止");
    case Mark::NumberLimit:
        return QStringLiteral("連番の上限で停止");
    case Mark::Stranded:
        return QStringLiteral("途中で上書きされて失われるため中止");
    case Mark::NotProcessed:
        return QStringLiteral("処理されません");
    case Mark::Refused:
        break;
    }
    switch (problem) {
    case NameProblem::Slash:
        return QStringLiteral("使えない名前（「/」を含む）");
    case NameProblem::Control:
        return QStringLiteral("使えない名前（制御文字を含む）");
    case NameProblem::Dot:
        return QStringLiteral("使えない名前（「.」か「..」）");
    case NameProblem::Hidden:
        return QStringLiteral("使えない名前（「.」で始まる）");
    case NameProblem::TooLong:
        return QStringLiteral("使えない名前（長すぎる）");
    case NameProblem::None:
        break;
    }
    return QStringLiteral("使えない名前");
}

QString NameCheckModel::shownName(const QString &name)
{
    QString shown = FileNames::display(name);
    const qsizetype n = shown.size();
    // Only names with control characters are copied.
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = shown.at(i).unicode();
        if (c < 0x20)
            shown[i] = QChar(char16_t(0x2400 + c));
        else if (c == 0x7F)
            shown[i] = QChar(char16_t(0x2421));
    }
    return shown;
}
