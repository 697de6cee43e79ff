#include "filelist.h"

#include "filenames.h"
#include "naturalorder.h"
#include "paths.h"

#include <QActionGroup>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMimeData>
#include <QSet>

#include <algorithm>

int FileListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_names.size());
}

QVariant FileListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return FileNames::display(m_names.at(index.row()));
    return {};
}

Qt::ItemFlags FileListModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags flags = QAbstractListModel::flags(index);
    if (index.isValid())
        flags |= Qt::ItemIsDragEnabled;
    return flags;
}

QStringList FileListModel::mimeTypes() const
{
    return {QStringLiteral("text/uri-list")};
}

QMimeData *FileListModel::mimeData(const QModelIndexList &indexes) const
{
    // In list order, whichever way the selection was made.
    std::vector<int> rows;
    rows.reserve(size_t(indexes.size()));
    for (const QModelIndex &index : indexes) {
        if (checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
            rows.push_back(index.row());
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    QList<QUrl> urls;
    urls.reserve(qsizetype(rows.size()));
    for (const int row : rows)
        urls.append(FileNames::toUrl(Paths::join(m_folder, m_names.at(row))));
    auto *data = new QMimeData;
    data->setUrls(urls);
    return data;
}

Qt::DropActions FileListModel::supportedDragActions() const
{
    // Copied only: a file moved away under the list by another program would surprise.
    return Qt::CopyAction;
}

void FileListModel::setNames(QStringList names, QString folder)
{
    beginResetModel();
    m_names = std::move(names);
    m_folder = std::move(folder);
    endResetModel();
}

FileList::FileList(FileOperations &files, QAbstractItemView::SelectionMode mode, QWidget *parent)
    : QListView(parent), m_files(files), m_model(new FileListModel(this))
{
    setModel(m_model);
    setSelectionMode(mode);
    setUniformItemSizes(true);
    setLayoutMode(QListView::Batched);
    setBatchSize(2000);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setTextElideMode(Qt::ElideRight);
    setDragDropMode(QAbstractItemView::DragOnly);
    setDefaultDropAction(Qt::CopyAction);
}

OpResult FileList::setPath(const QString &folder)
{
    m_path = folder;
    return refresh();
}

OpResult FileList::refresh()
{
    QStringList names;
    OpResult listed = m_files.listFiles(m_path, names);
    if (!listed) {
        names.clear();
        if (listed.path.isEmpty())
            listed.path = m_path;
    }
    sortNames(names);
    m_model->setNames(std::move(names), m_path);
    return listed;
}

void FileList::sortNames(QStringList &names)
{
    NaturalOrder::sort(names);
    SourceOrder::sort(m_files, m_path, m_order, names);
}

void FileList::setOrder(ListOrder order)
{
    for (int i = 0; i < m_orderActions.size(); ++i)
        m_orderActions[i]->setChecked(i == int(order));
    if (order == m_order)
        return;
    m_order = order;
    // The same entries in another order: what was selected stays so.
    QSet<QString> selected;
    const QModelIndexList rows = selectionModel()->selectedRows();
    selected.reserve(rows.size());
    for (const QModelIndex &row : rows)
        selected.insert(entry(row.row()));
    const QString current = fileName();
    QStringList names = m_model->names();
    sortNames(names);
    m_model->setNames(std::move(names), m_path);
    select(selected, current);
}

void FileList::selectOnly(const QStringList &names)
{
    const QSet<QString> wanted(names.cbegin(), names.cend());
    QString first;
    for (const QString &name : m_model->names()) {
        if (wanted.contains(name)) {
            first = name;
            break;
        }
    }
    select(wanted, first);
}

void FileList::select(const QSet<QString> &selected, const QString &current)
{
    const QStringList &names = m_model->names();
    QItemSelection selection;
    for (int row = 0; row < names.size();) {
        if (!selected.contains(names[row])) {
            ++row;
            continue;
        }
        int last = row;
        while (last + 1 < names.size() && selected.contains(names[last + 1]))
            ++last;
        selection.select(m_model->index(row), m_model->index(last));
        row = last + 1;
    }
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    if (const qsizetype at = current.isEmpty() ? -1 : names.indexOf(current); at >= 0) {
        selectionModel()->setCurrentIndex(m_model->index(int(at)), QItemSelectionModel::NoUpdate);
        scrollTo(currentIndex());
    }
}

void FileList::offerOrders()
{
    if (m_orderMenu)
        return;
    m_orderMenu = new QMenu(QStringLiteral("並べ方"), this);
    m_orderMenu->setAccessibleName(m_orderMenu->title());
    auto *group = new QActionGroup(m_orderMenu);
    const QList<QPair<ListOrder, QString>> orders{
        {ListOrder::Name, QStringLiteral("名前順(&N)")},
        {ListOrder::Taken, QStringLiteral("撮影日時順(&T)")},
        {ListOrder::Modified, QStringLiteral("更新日時順(&M)")}};
    for (const auto &[order, text] : orders) {
        QAction *action = m_orderMenu->addAction(text);
        action->setCheckable(true);
        action->setChecked(order == m_order);
        group->addAction(action);
        connect(action, &QAction::triggered, this, [this, order = order] { setOrder(order); });
        m_orderActions.append(action);
    }
}

void FileList::contextMenuEvent(QContextMenuEvent *event)
{
    if (!m_orderMenu) {
        QListView::contextMenuEvent(event);
        return;
    }
    // From the keyboard, the menu opens at the current entry.
    QPoint at = event->globalPos();
    if (event->reason() == QContextMenuEvent::Keyboard && currentIndex().isValid())
        at = viewport()->mapToGlobal(visualRect(currentIndex()).bottomLeft());
    m_orderMenu->exec(at);
}

int FileList::listCount() const
{
    return m_model->rowCount();
}

QString FileList::entry(int index) const
{
    return m_model->names().value(index);
}

bool FileList::isSelected(int index) const
{
    return selectionModel()->isSelected(m_model->index(index));
}

void FileList::setSelected(int index, bool selected)
{
    selectionModel()->select(m_model->index(index), selected ? QItemSelectionModel::Select
                                                             : QItemSelectionModel::Deselect);
}

void FileList::selectAll()
{
    const int count = listCount();
    if (count == 0 || selectionMode() == QAbstractItemView::SingleSelection)
        return;
    selectionModel()->select(QItemSelection(m_model->index(0), m_model->index(count - 1)),
                             QItemSelectionModel::Select);
}

QString FileList::fileName() const
{
    const QModelIndex current = currentIndex();
    return current.isValid() ? entry(current.row()) : QString();
}

void FileList::keyPressEvent(QKeyEvent *event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        currentIndex().isValid()) {
        event->accept();
        Q_EMIT entryOpened();
        return;
    }
    const QModelIndex before = currentIndex();
    QListView::keyPressEvent(event);
    if (currentIndex() != before && currentIndex().isValid())
        Q_EMIT keyboardMoved();
}
