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

    QList<Volume> list() override { return volumes; }
    QString startFolder(const QString &root) override
    {
        return rootOf(volumes, home) == root ? home : root;
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
