#pragma once

#include <QString>

#include <memory>

/// What the file operations learn about an open folder once and reuse while it is held (its
/// trash, whether it takes unnamed files); defined by the implementation that fills it.
struct FolderFacts;

/// A folder opened once. Operations on its entries go through its descriptor with bare names,
/// so a folder renamed or swapped under its path carries them along, and a new folder that
/// appears under the old path is never touched. Copies share one descriptor, closed with the
/// last of them.
class OpenFolder
{
public:
    OpenFolder() = default;
    /// Takes over `descriptor` (opened with O_DIRECTORY) of the folder known as `path`.
    OpenFolder(int descriptor, QString path, quint64 device, quint64 inode);

    bool isOpen() const { return bool(m_handle); }
    int descriptor() const;
    /// The path the folder was opened under: for messages and records, never for operations.
    const QString &path() const { return m_path; }
    quint64 device() const { return m_device; }
    quint64 inode() const { return m_inode; }
    /// Both are one directory (the same device and inode).
    bool sameFolderAs(const OpenFolder &other) const
    {
        return isOpen() && other.isOpen() && m_device == other.m_device && m_inode == other.m_inode;
    }
    /// The full path of the entry `name`, as far as the folder's path still names it.
    QString pathOf(const QString &name) const;

    /// The same open folder known under another path and identity (a test's view of it).
    OpenFolder relabelled(QString path, quint64 device, quint64 inode) const;

    /// Facts the implementation keeps with the descriptor; empty until it sets them.
    std::shared_ptr<FolderFacts> &facts() const;

private:
    struct Handle;
    std::shared_ptr<Handle> m_handle;
    QString m_path;
    quint64 m_device = 0;
    quint64 m_inode = 0;
};
