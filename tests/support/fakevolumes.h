#pragma once

#include "volumes.h"

#include <QHash>

/// Volumes whose roots are folders of a test; any of them can be made unreadable. Folders are
/// read for real, so names keep their exact bytes as in the program.
class FakeVolumes final : public Volumes
{
public:
    QList<Volume> volumes;
    QString home;
    QHash<QString, QString> unreadable; ///< root -> the reason given
    QHash<QString, QString> current;

    QList<Volume> list() override { return volumes; }
    QString currentFolder(const QString &root) override
    {
        if (current.contains(root))
            return current.value(root);
        return rootOf(volumes, home) == root ? home : root;
    }
    void setCurrentFolder(const QString &folder) override
    {
        current.insert(rootOf(volumes, folder), folder);
    }
    OpResult checkReadable(const QString &folder) override
    {
        const QString root = rootOf(volumes, folder);
        if (unreadable.contains(root))
            return OpResult::failure(unreadable.value(root), folder);
        return m_system.checkReadable(folder);
    }
    OpResult listFolders(const QString &folder, QStringList &names) override
    {
        const QString root = rootOf(volumes, folder);
        if (unreadable.contains(root)) {
            names.clear();
            return OpResult::failure(unreadable.value(root), folder);
        }
        return m_system.listFolders(folder, names);
    }
    QString homeFolder() override { return home; }

private:
    SystemVolumes m_system;
};
