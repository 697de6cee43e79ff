#pragma once

#include "fileoperations.h"

#include <QAbstractListModel>
#include <QKeyEvent>
#include <QListView>
#include <QStringList>

/// The names of one folder's files, in natural order of their shown text. Names keep their exact
/// bytes (FileNames); the display and tool-tip roles show them as FileNames::display does.
class FileListModel final : public QAbstractListModel
{
    Q_OBJECT

public:
    using QAbstractListModel::QAbstractListModel;
    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    void setNames(QStringList names);
    const QStringList &names() const { return m_names; }

private:
    QStringList m_names;
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

    int listCount() const;
    /// The exact name (FileNames), as the file operations take it.
    QString entry(int index) const;
    bool isSelected(int index) const;
    void setSelected(int index, bool selected);
    /// Selects every entry in one step.
    void selectAll() override;
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

private:
    FileOperations &m_files;
    FileListModel *m_model;
    QString m_path;
};
