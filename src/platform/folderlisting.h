#pragma once

#include "fileoperations.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <vector>

/// One reading of a folder: every name (hidden ones too) with its type and identity as a
/// directory entry. Names are kept as the bytes the system gave and found by name without
/// decoding every one, so that a folder of many files costs little to read and to look into.
/// Links are not followed; size, time and link count are known (FileStatus::size not -1) only
/// where the entry had to be looked at.
class FolderListing
{
public:
    /// Starts a new listing of a folder on `device`, with room for about `expected` entries.
    void clear(quint64 device, qsizetype expected = 0);
    /// Adds one entry; `looked` is its full status where the entry had to be looked at.
    void add(QByteArrayView name, FileStatus::Type type, quint64 inode,
             const FileStatus *looked = nullptr);

    qsizetype size() const { return qsizetype(m_entries.size()); }
    quint64 device() const { return m_device; }
    /// The entry `name`; Missing (with ENOENT) when the folder has none.
    FileStatus find(const QString &name) const;
    /// The same, with letter case ignored (as a drive that ignores it finds names); `spelling`,
    /// when given, becomes the name as the folder lists it.
    FileStatus findIgnoringCase(const QString &name, QString *spelling = nullptr) const;
    bool contains(const QString &name) const { return find(name).exists(); }
    /// The i-th entry's name and status, in the order of the reading.
    QString nameAt(qsizetype i) const;
    FileStatus statusAt(qsizetype i) const;
    /// Lets a double see every entry as it wants (another device, other inodes).
    template <typename See> void adjust(See &&see)
    {
        for (qsizetype i = 0; i < size(); ++i) {
            const FileStatus seen = see(nameAt(i), statusAt(i));
            m_device = seen.device;
            m_entries[size_t(i)].inode = seen.inode;
            if (m_entries[size_t(i)].looked >= 0)
                m_looked[size_t(m_entries[size_t(i)].looked)] = seen;
        }
    }

private:
    struct Entry
    {
        quint32 offset;
        quint32 length;
        quint64 inode;
        qint32 looked; ///< index into m_looked, -1 for none
        FileStatus::Type type;
    };
    qsizetype slotOf(QByteArrayView name, size_t hash) const;
    void grow();

    quint64 m_device = 0;
    QByteArray m_names;
    std::vector<Entry> m_entries;
    std::vector<FileStatus> m_looked;
    std::vector<qint32> m_slots; ///< open addressing over m_entries, -1 free
    /// Folded name -> entry, made at the first look-up that ignores case.
    mutable QHash<QString, qsizetype> m_folded;
    mutable bool m_foldedMade = false;
};
