#include "folderlisting.h"

#include "filenames.h"

#include <QHashFunctions>
#include <QVarLengthArray>

#include <algorithm>
#include <cerrno>

namespace {

size_t hashOf(QByteArrayView name)
{
    return qHashBits(name.data(), size_t(name.size()));
}

/// `name` in the system's bytes; names of plain ASCII, the common case, without a conversion
/// or an allocation.
QByteArrayView bytesOf(const QString &name, QVarLengthArray<char, 256> &buffer, QByteArray &encoded)
{
    const char16_t *in = reinterpret_cast<const char16_t *>(name.constData());
    const qsizetype size = name.size();
    buffer.resize(size);
    char *out = buffer.data();
    for (qsizetype i = 0; i < size; ++i) {
        if (in[i] >= 0x80) {
            encoded = FileNames::encode(name);
            return encoded;
        }
        out[i] = char(in[i]);
    }
    return QByteArrayView(buffer.constData(), size);
}

} // namespace

void FolderListing::clear(quint64 device, qsizetype expected)
{
    m_folded.clear();
    m_foldedMade = false;
    m_device = device;
    m_names.clear();
    m_entries.clear();
    m_looked.clear();
    size_t slots = 64;
    while (slots < size_t(expected) * 2)
        slots *= 2;
    m_slots.assign(slots, -1);
    m_entries.reserve(size_t(expected));
    m_names.reserve(expected * 16);
}

void FolderListing::grow()
{
    m_slots.assign(m_slots.size() * 2, -1);
    for (size_t i = 0; i < m_entries.size(); ++i) {
        const Entry &entry = m_entries[i];
        const QByteArrayView name(m_names.constData() + entry.offset, entry.length);
        size_t slot = hashOf(name) & (m_slots.size() - 1);
        while (m_slots[slot] >= 0)
            slot = (slot + 1) & (m_slots.size() - 1);
        m_slots[slot] = qint32(i);
    }
}

void FolderListing::add(QByteArrayView name, FileStatus::Type type, quint64 inode,
                        const FileStatus *looked)
{
    if (m_slots.empty())
        m_slots.assign(64, -1);
    if ((m_entries.size() + 1) * 2 > m_slots.size())
        grow();
    Entry entry{quint32(m_names.size()), quint32(name.size()), inode, -1, type};
    if (looked) {
        entry.looked = qint32(m_looked.size());
        m_looked.push_back(*looked);
    }
    m_names.append(name.data(), name.size());
    size_t slot = hashOf(name) & (m_slots.size() - 1);
    while (m_slots[slot] >= 0)
        slot = (slot + 1) & (m_slots.size() - 1);
    m_slots[slot] = qint32(m_entries.size());
    m_entries.push_back(entry);
}

qsizetype FolderListing::slotOf(QByteArrayView name, size_t hash) const
{
    if (m_slots.empty())
        return -1;
    for (size_t slot = hash & (m_slots.size() - 1);; slot = (slot + 1) & (m_slots.size() - 1)) {
        const qint32 index = m_slots[slot];
        if (index < 0)
            return -1;
        const Entry &entry = m_entries[size_t(index)];
        if (QByteArrayView(m_names.constData() + entry.offset, entry.length) == name)
            return index;
    }
}

FileStatus FolderListing::find(const QString &name) const
{
    QVarLengthArray<char, 256> buffer;
    QByteArray encoded;
    const QByteArrayView bytes = bytesOf(name, buffer, encoded);
    const qsizetype index = slotOf(bytes, hashOf(bytes));
    if (index < 0) {
        FileStatus missing;
        missing.error = ENOENT;
        return missing;
    }
    return statusAt(index);
}

FileStatus FolderListing::findIgnoringCase(const QString &name, QString *spelling) const
{
    const FileStatus exact = find(name);
    if (exact.exists()) {
        if (spelling)
            *spelling = name;
        return exact;
    }
    const auto folded = [](const QString &text) {
        const char16_t *begin = reinterpret_cast<const char16_t *>(text.constData());
        if (std::all_of(begin, begin + text.size(), [](char16_t c) { return c < 0x80; }))
            return text.toLower();
        return text.toCaseFolded();
    };
    if (!m_foldedMade) {
        m_folded.reserve(size());
        for (qsizetype i = 0; i < size(); ++i)
            m_folded.insert(folded(nameAt(i)), i);
        m_foldedMade = true;
    }
    const qsizetype index = m_folded.value(folded(name), -1);
    if (index < 0)
        return exact;
    if (spelling)
        *spelling = nameAt(index);
    return statusAt(index);
}

QString FolderListing::nameAt(qsizetype i) const
{
    const Entry &entry = m_entries[size_t(i)];
    return FileNames::decode(QByteArray(m_names.constData() + entry.offset, entry.length));
}

FileStatus FolderListing::statusAt(qsizetype i) const
{
    const Entry &entry = m_entries[size_t(i)];
    if (entry.looked >= 0)
        return m_looked[size_t(entry.looked)];
    FileStatus status;
    status.type = entry.type;
    status.device = m_device;
    status.inode = entry.inode;
    status.size = -1;
    return status;
}
