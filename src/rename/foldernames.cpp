#include "foldernames.h"

namespace FolderNames {

QString folded(const QString &name)
{
    const char16_t *begin = reinterpret_cast<const char16_t *>(name.constData());
    if (std::all_of(begin, begin + name.size(), [](char16_t c) { return c < 0x80; }))
        return name.toLower();
    return name.toCaseFolded();
}

QString otherSpelling(const QString &name)
{
    QString other = name.toUpper();
    if (other == name)
        other = name.toLower();
    return other == name ? QString() : other;
}

bool ignoresCase(FileOperations &files, const OpenFolder &folder,
                 const QHash<QString, FileStatus> &entries)
{
    // The first name with letters decides: its other spelling is either listed too (the
    // folder holds both, so it compares case) or found only by the file system's lookup.
    for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
        const QString other = otherSpelling(it.key());
        if (other.isNull())
            continue;
        return !entries.contains(other) && files.status(folder, other, false).exists();
    }
    return false;
}

bool ignoresCase(FileOperations &files, const OpenFolder &folder, const FolderListing &listing)
{
    for (qsizetype i = 0; i < listing.size(); ++i) {
        const QString other = otherSpelling(listing.nameAt(i));
        if (other.isNull())
            continue;
        return !listing.contains(other) && files.status(folder, other, false).exists();
    }
    return false;
}

QString Lookup::spelling(const QString &name) const
{
    if (m_entries.contains(name))
        return name;
    if (!m_ignoresCase)
        return {};
    if (!m_foldedMade) {
        m_folded.reserve(m_entries.size());
        for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it)
            m_folded.insert(folded(it.key()), it.key());
        m_foldedMade = true;
    }
    return m_folded.value(folded(name));
}

} // namespace FolderNames
