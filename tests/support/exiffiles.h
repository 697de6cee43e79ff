#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QtEndian>

#include <fcntl.h>
#include <sys/stat.h>

#include <utility>
#include <vector>

/// Writers of picture headers with EXIF dates, as cameras write them, for the tests and the
/// benchmark of the order by date taken.
namespace ExifFiles {

/// The date tags of an EXIF directory; empty ones are left out.
struct Tags
{
    QByteArray dateTimeOriginal; ///< "YYYY:MM:DD HH:MM:SS"
    QByteArray subSecTimeOriginal;
    QByteArray offsetTimeOriginal; ///< "+09:00"
};

namespace Detail {

inline void put(QByteArray &out, quint32 value, int size, bool bigEndian)
{
    for (int i = 0; i < size; ++i) {
        const int shift = bigEndian ? 8 * (size - 1 - i) : 8 * i;
        out.append(char((value >> shift) & 0xff));
    }
}

} // namespace Detail

/// A TIFF structure: a first directory pointing to an EXIF directory with `tags`, then
/// `trailing` bytes (a thumbnail, say) after its values.
inline QByteArray tiff(const Tags &tags, bool bigEndian = false, int trailing = 0)
{
    using Detail::put;
    std::vector<std::pair<quint16, QByteArray>> entries;
    for (const auto &[tag, text] : {std::pair{quint16(0x9003), tags.dateTimeOriginal},
                                    std::pair{quint16(0x9011), tags.offsetTimeOriginal},
                                    std::pair{quint16(0x9291), tags.subSecTimeOriginal}}) {
        if (!text.isEmpty())
            entries.push_back({tag, text + '\0'});
    }
    QByteArray out(bigEndian ? "MM" : "II");
    put(out, 42, 2, bigEndian);
    put(out, 8, 4, bigEndian);
    // The first directory: one entry, the EXIF directory's place.
    const quint32 exifAt = 8 + 2 + 12 + 4;
    put(out, 1, 2, bigEndian);
    put(out, 0x8769, 2, bigEndian);
    put(out, 4, 2, bigEndian);
    put(out, 1, 4, bigEndian);
    put(out, exifAt, 4, bigEndian);
    put(out, 0, 4, bigEndian);
    quint32 valuesAt = exifAt + 2 + 12 * quint32(entries.size()) + 4;
    QByteArray values;
    put(out, quint32(entries.size()), 2, bigEndian);
    for (const auto &[tag, value] : entries) {
        put(out, tag, 2, bigEndian);
        put(out, 2, 2, bigEndian); // ASCII
        put(out, quint32(value.size()), 4, bigEndian);
        if (value.size() <= 4) {
            out.append(value.leftJustified(4, '\0'));
        } else {
            put(out, valuesAt + quint32(values.size()), 4, bigEndian);
            values.append(value);
        }
    }
    put(out, 0, 4, bigEndian);
    return out + values + QByteArray(trailing, '\x55');
}

/// A JPEG's segment `marker` holding `payload`.
inline QByteArray segment(int marker, const QByteArray &payload)
{
    QByteArray out;
    out.append(char(0xff));
    out.append(char(marker));
    Detail::put(out, quint32(payload.size() + 2), 2, true);
    return out + payload;
}

/// A JPEG's header and a token scan: JFIF, `before` bytes of another segment, the EXIF
/// segment with `tags` (and `thumbnail` bytes after its values), a frame, a scan, the end. No
/// EXIF segment when `tags` has no date.
inline QByteArray jpeg(const Tags &tags, bool bigEndian = false, int before = 0, int thumbnail = 0)
{
    QByteArray out("\xff\xd8", 2);
    out += segment(0xe0, QByteArray("JFIF\0\x01\x01\0\0\x01\0\x01\0\0", 14));
    if (before > 0)
        out += segment(0xe2, QByteArray(before, '\x11'));
    if (!tags.dateTimeOriginal.isEmpty())
        out += segment(0xe1, QByteArray("Exif\0\0", 6) + tiff(tags, bigEndian, thumbnail));
    out += segment(0xc0, QByteArray("\x08\0\x10\0\x10\x01\x01\x11\0", 9));
    out += segment(0xda, QByteArray("\x01\x01\0\0\x3f\0", 6));
    out += QByteArray(64, '\x2a');
    out += QByteArray("\xff\xd9", 2);
    return out;
}

/// Writes `bytes` to `path` with the modification time `modified` (seconds since the epoch).
inline bool write(const QString &path, const QByteArray &bytes, qint64 modified)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return false;
    file.close();
    const struct timespec times[2] = {{time_t(modified), 0}, {time_t(modified), 0}};
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

} // namespace ExifFiles
