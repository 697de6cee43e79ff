#include "namecheckmodel.h"

#include "filenames.h"
#include "foldernames.h"
#include "paths.h"

#include <QSet>

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
/// digits, unusable names, a non-file under a new name, stranded sources, then the steps.
class NameCheckModel::Check
{
public:
    Check(NameCheckModel &model, const RenameRequest &request, const BatchPlan &plan, int nameMax)
        : m_model(model), m_request(request), m_plan(plan), m_folders(model.m_folders),
          m_nameMax(nameMax)
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
            summary = oneBlock(RenameJob::startOutOfRangeMessage(m_request.startNumberText));
            return;
        }
        if (m_plan.nameProblem != NameProblem::None) {
            markRefused();
            return;
        }
        standing.resize(m_plan.items.size());
        m_reached = sameNameStop();
        if (markBlocked() || markStranded())
            return;
        markSteps();
    }

    std::vector<Row> rows;
    QString summary;
    QString blockedName;
    bool blockedIsFolder = false;

private:
    /// What stands under a new name in the target folder before the batch.
    struct Standing
    {
        enum class Kind : quint8
        {
            Nothing,
            File, ///< a file, or a link to one
            LinkToNoFile,
            Folder,
            Special ///< a pipe, socket or device
        };
        Kind kind = Kind::Nothing;
        bool looked = false;
        bool link = false;
        qsizetype listed = -1; ///< its index in the target list, for a file
        QString spelling;      ///< its listed name where that is not the new name
    };

    const QString &ownName(size_t item) const
    {
        return m_request.entries[size_t(m_plan.items[item].entryIndex)].name;
    }

    const QString &rowName(size_t row) const
    {
        return m_request.entries[size_t(rows[row].entryIndex)].name;
    }

    const QString &listedName(size_t item) const
    {
        const Standing &at = standing[item];
        if (at.listed >= 0)
            return m_model.m_targetList.at(at.listed);
        return at.spelling.isNull() ? m_plan.items[item].newName : at.spelling;
    }

    /// Looked up once per item, as the target folder compares names.
    const Standing &standingAt(size_t item)
    {
        Standing &at = standing[item];
        if (at.looked)
            return at;
        at.looked = true;
        const QString &name = m_plan.items[item].newName;
        const bool folds = m_folders.ignoresCase;
        const QString folded = folds ? FolderNames::folded(name) : QString();
        const QString &key = folds ? folded : name;
        at.listed = m_model.m_targetIndex.find(key, [this](qsizetype i) -> const QString & {
            return m_model.m_targetKeysFolded ? m_model.m_foldedTargets[size_t(i)]
                                              : m_model.m_targetList.at(i);
        });
        if (at.listed >= 0) {
            at.kind = Standing::Kind::File;
            at.link = !m_folders.fileLinks.isEmpty() && m_folders.fileLinks.contains(key);
            return at;
        }
        if (m_folders.others.isEmpty())
            return at;
        const auto other = m_folders.others.constFind(key);
        if (other == m_folders.others.cend())
            return at;
        at.spelling = *other;
        switch (m_folders.targetEntries.value(at.spelling).type) {
        case FileStatus::Type::Directory:
            at.kind = Standing::Kind::Folder;
            break;
        case FileStatus::Type::SymbolicLink:
            at.kind = Standing::Kind::LinkToNoFile;
            at.link = true;
            break;
        default:
            at.kind = Standing::Kind::Special;
        }
        return at;
    }

    /// The file a source link resolves to; null for a source that is no link.
    const FileStatus *sourceLink(const QString &name) const
    {
        if (m_folders.sourceLinks.isEmpty())
            return nullptr;
        const auto found = m_folders.sourceLinks.constFind(name);
        return found == m_folders.sourceLinks.cend() ? nullptr : &*found;
    }

    /// What stands under the new name as an entry; looked at only for source links.
    FileStatus targetEntry(size_t item) const
    {
        if (standing[item].kind == Standing::Kind::File)
            return m_model.m_files->status(m_folders.target, listedName(item), false);
        return m_folders.targetEntries.value(listedName(item));
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

    /// The first item that is its own name already as a file in the target folder, with
    /// overwriting off.
    size_t sameNameStop()
    {
        const size_t count = m_plan.items.size();
        if (m_request.overwrite)
            return count;
        for (size_t p = 0; p < count; ++p) {
            if (m_plan.items[p].newName == ownName(p) && standingAt(p).kind == Standing::Kind::File)
                return p;
        }
        return count;
    }

    /// A folder, pipe or device under a new name the batch reaches would stop it there: the
    /// job refuses the batch before it starts.
    bool markBlocked()
    {
        for (size_t p = 0; p < m_reached; ++p) {
            const Standing::Kind kind = standingAt(p).kind;
            if (kind != Standing::Kind::Folder && kind != Standing::Kind::Special)
                continue;
            rows[p].mark = Mark::Blocked;
            blockedName = listedName(p);
            blockedIsFolder = kind == Standing::Kind::Folder;
            BatchLayout layout;
            layout.blocked = Paths::join(m_request.targetFolder, m_plan.items[p].newName);
            layout.blockedIsFolder = blockedIsFolder;
            summary = oneBlock(RenameJob::blockedMessage(layout));
            return true;
        }
        return false;
    }

    /// A selected source that the batch never reaches, while an earlier step replaces it,
    /// would be lost: the job refuses the whole batch. In one folder names tell, with letter
    /// case ignored as the job does everywhere; a source link tells by the file it resolves
    /// to, and any link is taken for reached when an earlier step replaces a link.
    bool markStranded()
    {
        const bool overflow = m_plan.stop == BatchPlan::Stop::NumberOverflow;
        const size_t end = overflow ? rows.size() : m_plan.items.size();
        if (m_reached >= end)
            return false;
        size_t stranded = rows.size();
        if (m_folders.sameFolder) {
            std::vector<QString> folded;
            folded.reserve(end - m_reached);
            for (size_t r = m_reached; r < end; ++r)
                folded.push_back(FolderNames::folded(rowName(r)));
            const auto unreachedName = [&](qsizetype i) -> const QString & {
                return folded[size_t(i)];
            };
            NameIndex unreached;
            unreached.build(qsizetype(folded.size()), unreachedName);
            for (size_t p = 0; p < m_reached; ++p) {
                const qsizetype found =
                    unreached.find(FolderNames::folded(m_plan.items[p].newName), unreachedName);
                if (found >= 0)
                    stranded = std::min(stranded, m_reached + size_t(found));
            }
        }
        if (!m_folders.sourceLinks.isEmpty()) {
            QSet<QPair<quint64, quint64>> replaced;
            bool linkReplaced = false;
            for (size_t p = 0; p < m_reached; ++p) {
                const Standing &at = standingAt(p);
                if (at.kind == Standing::Kind::Nothing)
                    continue;
                const FileStatus entry = targetEntry(p);
                replaced.insert({entry.device, entry.inode});
                linkReplaced = linkReplaced || at.link;
            }
            for (size_t r = m_reached; r < std::min(end, stranded); ++r) {
                const FileStatus *file = sourceLink(rowName(r));
                if (file && file->type == FileStatus::Type::Regular &&
                    (linkReplaced || replaced.contains({file->device, file->inode}))) {
                    stranded = r;
                    break;
                }
            }
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

    /// The plan item whose source is the entry `listed` of the one folder, or -1.
    qsizetype sourceItem(const QString &listed)
    {
        m_model.makeSelectedIndex(m_request);
        const auto key = [this](qsizetype i) -> const QString & {
            return m_model.m_selectedKeys[size_t(i)];
        };
        const qsizetype found = m_model.m_selectedIndex.find(m_model.compared(listed), key);
        return found < qsizetype(m_plan.items.size()) ? found : -1;
    }

    /// What the step of item `p` does to what stands under its new name.
    Mark stepMark(size_t p)
    {
        const Standing &at = standingAt(p);
        if (at.kind == Standing::Kind::Nothing)
            return Mark::New;
        const QString &name = m_plan.items[p].newName;
        const QString &own = ownName(p);
        const FileStatus *link = sourceLink(own);
        const bool sameFolder = m_folders.sameFolder;
        if (sameFolder && name == own) // the very entry: a link becomes the file it shows
            return link ? Mark::Replaced : Mark::Unchanged;
        // The source's own file under the new name: another spelling of its entry, or the
        // file a source link resolves to. Kept as it is, or a move changes only the spelling.
        const bool ownFile =
            link ? targetEntry(p).sameFileAs(*link) && at.kind == Standing::Kind::File
                 : sameFolder && listedName(p) == own;
        if (ownFile)
            return link || !m_request.move ? Mark::Unchanged : Mark::New;
        if (!sameFolder || at.kind != Standing::Kind::File)
            return Mark::Replaced;
        const qsizetype source = sourceItem(listedName(p));
        if (source < 0)
            return Mark::Replaced;
        // Another source of the batch: an earlier one is moved away already, or copied and
        // may be replaced; a later one is kept aside before the batch and renamed in turn. A
        // source link is no file the batch carries on: it goes to the trash.
        if (size_t(source) < p && m_request.move)
            return Mark::New;
        if (at.link)
            return Mark::Replaced;
        return size_t(source) > p ? Mark::NewBesideRenamed : Mark::ReplacedSource;
    }

    void markSteps()
    {
        for (size_t p = 0; p < m_reached; ++p)
            rows[p].mark = stepMark(p);
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

    NameCheckModel &m_model;
    const RenameRequest &m_request;
    const BatchPlan &m_plan;
    const Folders &m_folders;
    const int m_nameMax;
    size_t m_reached = 0;
    std::vector<Standing> standing;
};

void NameCheckModel::setFileOperations(FileOperations *files)
{
    m_files = files;
    m_folders = {};
}

bool NameCheckModel::sameEntries(const RenameRequest &request, bool selectionToo) const
{
    const std::vector<SourceEntry> &now = request.entries;
    const std::vector<SourceEntry> &before = m_request.entries;
    if (!m_haveRequest || now.size() != before.size() ||
        request.sourceFolder != m_request.sourceFolder)
        return false;
    for (size_t j = 0; j < now.size(); ++j) {
        if ((selectionToo && now[j].selected != before[j].selected) ||
            now[j].name != before[j].name)
            return false;
    }
    return true;
}

void NameCheckModel::setRequest(RenameRequest request, const QStringList &targetNames, int nameMax)
{
    const bool entriesKept = sameEntries(request, true);
    if (!entriesKept)
        m_selectedIndexMade = false;
    lookAtFolders(request, targetNames, entriesKept || sameEntries(request, false));
    updateTargetSet(targetNames);
    if (m_folders.read)
        nameMax = m_folders.nameMax;
    // A new target list alone leaves the new names as they are.
    const bool namesKept = entriesKept && nameMax == m_nameMax &&
                           request.baseName == m_request.baseName &&
                           request.startNumberText == m_request.startNumberText &&
                           request.digitCountText == m_request.digitCountText &&
                           request.extension == m_request.extension;
    BatchPlan plan;
    if (namesKept) {
        plan = std::move(m_plan);
    } else {
        plan = planBatch(request, nameMax);
        ++m_planBuilds;
    }
    Check check(*this, request, plan, nameMax);
    check.run();

    // The same rows keep the view's scroll position and current cell.
    const bool sameShape = check.rows.size() == m_rows.size();
    if (!sameShape)
        beginResetModel();
    m_request = std::move(request);
    m_haveRequest = true;
    m_nameMax = nameMax;
    m_plan = std::move(plan);
    m_rows = std::move(check.rows);
    m_summary = std::move(check.summary);
    m_blockedName = std::move(check.blockedName);
    m_blockedIsFolder = check.blockedIsFolder;
    if (!sameShape)
        endResetModel();
    else if (!m_rows.empty())
        Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
}

void NameCheckModel::lookAtFolders(const RenameRequest &request, const QStringList &targetNames,
                                   bool namesKept)
{
    OpenFolder source, target;
    if (!m_files || !m_files->openFolder(request.sourceFolder, source) ||
        !m_files->openFolder(request.targetFolder, target)) {
        // Names alone: one folder when the paths are the same.
        if (m_folders.read)
            m_selectedIndexMade = false;
        m_folders = {};
        m_folders.sameFolder = request.sourceFolder == request.targetFolder;
        return;
    }
    const bool targetKept = m_folders.read && isTargetList(targetNames) &&
                            target.device() == m_folders.targetDevice &&
                            target.inode() == m_folders.targetInode;
    // In one folder the source's links come from the target's listing.
    const bool sameFolder = source.sameFolderAs(target);
    const bool sourceKept = m_folders.read && namesKept && sameFolder == m_folders.sameFolder &&
                            (!sameFolder || targetKept) &&
                            source.device() == m_folders.sourceDevice &&
                            source.inode() == m_folders.sourceInode;
    if (!targetKept) {
        const bool ignoredCase = m_folders.ignoresCase;
        readTarget(target, targetNames);
        if (m_folders.ignoresCase != ignoredCase)
            m_selectedIndexMade = false;
    }
    if (sameFolder != m_folders.sameFolder)
        m_selectedIndexMade = false;
    m_folders.sameFolder = sameFolder;
    if (!sourceKept)
        readSourceLinks(source);
    m_folders.sourceDevice = source.device();
    m_folders.sourceInode = source.inode();
    m_folders.read = true;
}

void NameCheckModel::readTarget(const OpenFolder &target, const QStringList &targetNames)
{
    Folders &folders = m_folders;
    folders.target = target;
    folders.targetDevice = target.device();
    folders.targetInode = target.inode();
    folders.nameMax = m_files->nameMax(target);
    folders.targetEntries.clear();
    folders.others.clear();
    folders.fileLinks.clear();
    // Only what is no regular file is read: the files are the target list's names.
    if (!m_files->listOtherEntries(target, folders.targetEntries))
        folders.targetEntries.clear();
    folders.ignoresCase = FolderNames::ignoresCase(*m_files, target, folders.targetEntries);
    for (const QString &name : targetNames) {
        if (const QString other = FolderNames::otherSpelling(name); !other.isNull()) {
            // The first file with ASCII letters decides, as for the other entries.
            folders.ignoresCase = !targetNames.contains(other) &&
                                  !folders.targetEntries.contains(other) &&
                                  m_files->status(target, other, false).exists();
            break;
        }
    }
    for (auto it = folders.targetEntries.cbegin(); it != folders.targetEntries.cend(); ++it) {
        const FileStatus::Type type = it->type;
        // Hidden names are never new names.
        if (type == FileStatus::Type::Regular || it.key().startsWith(QLatin1Char('.')))
            continue;
        const QString key = folders.ignoresCase ? FolderNames::folded(it.key()) : it.key();
        if (type == FileStatus::Type::SymbolicLink &&
            m_files->status(target, it.key(), true).type == FileStatus::Type::Regular)
            folders.fileLinks.insert(key, true);
        else
            folders.others.insert(key, it.key());
    }
}

void NameCheckModel::readSourceLinks(const OpenFolder &source)
{
    Folders &folders = m_folders;
    folders.sourceLinks.clear();
    QHash<QString, FileStatus> listed;
    const QHash<QString, FileStatus> *entries = &folders.targetEntries;
    if (!folders.sameFolder) {
        if (!m_files->listOtherEntries(source, listed))
            listed.clear();
        entries = &listed;
    }
    for (auto it = entries->cbegin(); it != entries->cend(); ++it) {
        if (it->type == FileStatus::Type::SymbolicLink)
            folders.sourceLinks.insert(it.key(), m_files->status(source, it.key(), true));
    }
}

QString NameCheckModel::compared(const QString &name) const
{
    return m_folders.ignoresCase ? FolderNames::folded(name) : name;
}

void NameCheckModel::makeSelectedIndex(const RenameRequest &request)
{
    if (m_selectedIndexMade)
        return;
    m_selectedEntries.clear();
    m_selectedKeys.clear();
    for (int j = 0; j < int(request.entries.size()); ++j) {
        if (request.entries[size_t(j)].selected) {
            m_selectedEntries.push_back(j);
            m_selectedKeys.push_back(compared(request.entries[size_t(j)].name));
        }
    }
    m_selectedIndex.build(qsizetype(m_selectedKeys.size()), [this](qsizetype i) -> const QString & {
        return m_selectedKeys[size_t(i)];
    });
    m_selectedIndexMade = true;
}

bool NameCheckModel::isTargetList(const QStringList &targetNames) const
{
    // Holding the last list keeps its buffer alive: a changed list cannot share it.
    return m_targetSetBuilds > 0 && targetNames.constData() == m_targetList.constData() &&
           targetNames.size() == m_targetList.size();
}

void NameCheckModel::updateTargetSet(const QStringList &targetNames)
{
    const bool folded = m_folders.ignoresCase;
    if (isTargetList(targetNames) && folded == m_targetKeysFolded)
        return;
    m_targetList = targetNames;
    m_targetKeysFolded = folded;
    m_foldedTargets.clear();
    if (folded) {
        m_foldedTargets.reserve(size_t(m_targetList.size()));
        for (const QString &name : std::as_const(m_targetList))
            m_foldedTargets.push_back(FolderNames::folded(name));
        m_targetIndex.build(m_targetList.size(), [this](qsizetype i) -> const QString & {
            return m_foldedTargets[size_t(i)];
        });
    } else {
        m_targetIndex.build(m_targetList.size(),
                            [this](qsizetype i) -> const QString & { return m_targetList.at(i); });
    }
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
        return FileNames::display(m_request.entries[size_t(row.entryIndex)].name);
    case NewNameColumn:
        return FileNames::display(newName(index.row()));
    case OutcomeColumn:
        if (row.mark == Mark::Blocked) {
            return QStringLiteral("%1「%2」があるため中止")
                .arg(m_blockedIsFolder ? QStringLiteral("フォルダー")
                                       : QStringLiteral("ファイルではないもの"),
                     FileNames::display(m_blockedName));
        }
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
    case Mark::Blocked:
        return QStringLiteral("ファイルではないものがあるため中止");
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
