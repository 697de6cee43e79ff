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
    // Only ASCII letters change: every drive that ignores case folds them, while beyond them
    // drives differ (ß has no upper case of its own length, vfat folds ASCII only).
    const auto swapped = [&name](bool upper) {
        QString other = name;
        for (QChar &c : other) {
            const char16_t u = c.unicode();
            if (upper && u >= u'a' && u <= u'z')
                c = QChar(char16_t(u - 0x20));
            else if (!upper && u >= u'A' && u <= u'Z')
                c = QChar(char16_t(u + 0x20));
        }
        return other;
    };
    QString other = swapped(true);
    if (other == name)
        other = swapped(false);
    return other == name ? QString() : other;
}

bool ignoresCase(FileOperations &files, const OpenFolder &folder,
                 const QHash<QString, FileStatus> &entries)
{
    // The first name with ASCII letters decides: its other spelling is either listed too (the
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
