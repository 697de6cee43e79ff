#pragma once

#include "opresult.h"
#include "volumes.h"

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

    Volumes &m_volumes;
    QString m_path;
};
