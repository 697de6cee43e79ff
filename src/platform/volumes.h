#pragma once

#include "opresult.h"

#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QStringList>

/// A mounted volume a user browses: its mount root ("/", "/media/user/USB") and label.
struct Volume
{
    QString root;
    QString label;
};

/// The machine's volumes ("drives").
class Volumes
{
public:
    virtual ~Volumes() = default;
    virtual QList<Volume> list() = 0;
    /// Where a pane opens a volume it has not shown yet: the user's home folder when the volume
    /// holds it, else the volume's root. Each pane remembers its own folders after that.
    virtual QString startFolder(const QString &root) = 0;
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
    QString startFolder(const QString &root) override;
    OpResult checkReadable(const QString &folder) override;
    OpResult listFolders(const QString &folder, QStringList &names) override;
    QString homeFolder() override;

private:
    QList<Volume> m_cached;
    QElapsedTimer m_listedAt;
};
