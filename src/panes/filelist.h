#pragma once

#include "fileoperations.h"
#include "sourceorder.h"

#include <QAbstractListModel>
#include <QKeyEvent>
#include <QListView>
#include <QStringList>

class QAction;
class QMenu;

/// The names of one folder's files, in natural order of their shown text. Names keep their exact
/// bytes (FileNames); the display and tool-tip roles show them as FileNames::display does.
/// Dragged out, entries are their files' URLs (text/uri-list), to be copied.
class FileListModel final : public QAbstractListModel
{
    Q_OBJECT

public:
    using QAbstractListModel::QAbstractListModel;
    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    Qt::DropActions supportedDragActions() const override;
    /// The names and the folder that holds them.
    void setNames(QStringList names, QString folder);
    const QStringList &names() const { return m_names; }

private:
    QStringList m_names;
    QString m_folder;
};

/// A folder's files (ordinary, not hidden), with the selection the rename job reads.
class FileList final : public QListView
{
    Q_OBJECT

public:
    FileList(FileOperations &files, QAbstractItemView::SelectionMode mode,
             QWidget *parent = nullptr);

    QString path() const { return m_path; }
    /// Lists `folder`. On failure the list is empty and the reason is returned.
    OpResult setPath(const QString &folder);
    /// Reads the folder again; the selection is cleared.
    OpResult refresh();

    ListOrder order() const { return m_order; }
    /// Shows the entries in `order` from now on; the selection and the current entry stay.
    void setOrder(ListOrder order);
    /// Offers the orders in the list's context menu, as radio items.
    void offerOrders();
    /// The context menu's order items (Name, Taken, Modified); empty unless offered.
    QList<QAction *> orderActions() const { return m_orderActions; }

    int listCount() const;
    /// The exact name (FileNames), as the file operations take it.
    QString entry(int index) const;
    bool isSelected(int index) const;
    void setSelected(int index, bool selected);
    /// Selects every entry in one step.
    void selectAll() override;
    /// Selects exactly the entries of these names, the first of them in the list current.
    void selectOnly(const QStringList &names);
    /// The current entry's exact name (the one last clicked); empty when there is none.
    QString fileName() const;
    FileListModel *listModel() const { return m_model; }

Q_SIGNALS:
    /// The user moved the current entry with the keyboard (a click by other means).
    void keyboardMoved();
    /// The user pressed Enter on the current entry (a double-click by other means).
    void entryOpened();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    /// `names`, in natural order, put into the list's order.
    void sortNames(QStringList &names);
    /// Selects the entries whose names `selected` holds, in ranges; `current` becomes current.
    void select(const QSet<QString> &selected, const QString &current);

    FileOperations &m_files;
    FileListModel *m_model;
    QString m_path;
    ListOrder m_order = ListOrder::Name;
    QMenu *m_orderMenu = nullptr;
    QList<QAction *> m_orderActions;
};
