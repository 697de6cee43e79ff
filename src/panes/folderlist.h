#pragma once

#include "opresult.h"
#include "volumes.h"

#include <QHash>
#include <QListWidget>

/// A classic folder list: the chain of folders from the volume's root down to the current
/// folder, then the current folder's subfolders, indented. Opening a folder moves there.
class FolderList final : public QListWidget
{
    Q_OBJECT

public:
    explicit FolderList(Volumes &volumes, QWidget *parent = nullptr);

    QString path() const { return m_path; }
    /// Moves to `folder`; fails, keeping the current folder, when it cannot be read.
    OpResult setPath(const QString &folder);
    /// The folder this list last showed on the volume at `root` in this run; before that where
    /// the volume starts (Volumes::startFolder). Each pane has its own memory.
    QString currentFolderOf(const QString &root);

Q_SIGNALS:
    /// Every change of the path, by the user or by an assignment.
    void changed();
    /// The user opened a folder that could not be read.
    void openFailed(const OpResult &failure);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void openItem(QListWidgetItem *item);
    void rebuild(const QStringList &subfolders);
    /// After a failed open: the current folder listed again where it can be, and highlighted.
    void showCurrentAgain();

    Volumes &m_volumes;
    QString m_path;
    QHash<QString, QString> m_lastShown; ///< volume root -> folder
};
