#include "filelist.h"

#include "filenames.h"
#include "naturalorder.h"

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

void FileListModel::setNames(QStringList names)
{
    beginResetModel();
    m_names = std::move(names);
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
    NaturalOrder::sort(names);
    m_model->setNames(std::move(names));
    return listed;
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
