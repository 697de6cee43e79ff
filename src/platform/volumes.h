#pragma once

#include "opresult.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

/// A mounted volume a user browses: its mount root ("/", "/media/user/USB") and label.
struct Volume
{
    QString root;
    QString label;
};

/// The machine's volumes ("drives") and the folder last shown on each.
class Volumes
{
public:
    virtual ~Volumes() = default;
    virtual QList<Volume> list() = 0;
    /// The folder last shown on the volume in this run; before that the user's home folder
    /// when the volume holds it, else the volume's root.
    virtual QString currentFolder(const QString &root) = 0;
    /// Remembers `folder` as the current folder of the volume that holds it.
    virtual void setCurrentFolder(const QString &folder) = 0;
    /// Success when the folder can be listed; else the system's reason.
    virtual OpResult checkReadable(const QString &folder) = 0;
    /// Names of the folders in `folder` (links to folders count), hidden ones left out,
    /// unsorted; names keep their exact bytes (FileNames).
    virtual OpResult listFolders(const QString &folder, QStringList &names) = 0;
    virtual QString homeFolder() = 0;

    /// The root among `volumes` that is the longest prefix of `path` at a path-component
    /// boundary; empty when `path` is not absolute.
    static QString rootOf(const QList<Volume> &volumes, const QString &path);
};

/// The mounted volumes of this machine, without pseudo file systems.
class SystemVolumes final : public Volumes
{
public:
    QList<Volume> list() override;
    QString currentFolder(const QString &root) override;
    void setCurrentFolder(const QString &folder) override;
    OpResult checkReadable(const QString &folder) override;
    OpResult listFolders(const QString &folder, QStringList &names) override;
    QString homeFolder() override;

private:
    QList<Volume> m_cached;
    QElapsedTimer m_listedAt;
    QHash<QString, QString> m_current;
};
