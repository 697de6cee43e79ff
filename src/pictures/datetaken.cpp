#include "datetaken.h"

#include "jpegmarkers.h"

#include <QDateTime>
#include <QtEndian>

namespace {

constexpr quint16 exifDirectoryTag = 0x8769;
constexpr quint16 dateTimeOriginalTag = 0x9003;
constexpr quint16 offsetTimeOriginalTag = 0x9011;
constexpr quint16 subSecTimeOriginalTag = 0x9291;
constexpr quint16 asciiType = 2;
constexpr qint64 daysFrom4713BcTo1970 = 2440588;

/// A TIFF structure (a whole TIFF file, or the body of a JPEG's EXIF segment) read from the
/// bytes at hand. Offsets count from the structure's start `base`; the structure ends at `end`.
/// A read past the bytes at hand notes how many bytes would have done.
class TiffReader
{
public:
    TiffReader(QByteArrayView bytes, qint64 base, qint64 end, bool wholeFile)
        : m_bytes(bytes), m_base(base), m_end(end), m_wholeFile(wholeFile)
    {}

    /// Reads the byte order and the date tags; nothing when they are not (all) there.
    std::optional<DateTaken> read()
    {
        const std::optional<QByteArrayView> order = view(0, 8);
        if (!order)
            return {};
        if (order->startsWith("II*\0"))
            m_little = true;
        else if (order->startsWith("MM\0*"))
            m_little = false;
        else
            return damaged();
        const std::optional<quint32> exif = tagNumber(number32(*order, 4), exifDirectoryTag);
        if (!exif)
            return {};
        const std::optional<QByteArrayView> dateText = tagText(*exif, dateTimeOriginalTag);
        if (!dateText)
            return {};
        std::optional<DateTaken> taken = parseExifDateTime(*dateText);
        if (!taken)
            return damaged();
        // The refinements are optional: a missing or unreadable one leaves the date as it is.
        if (const auto subSeconds = tagText(*exif, subSecTimeOriginalTag))
            taken->nanoseconds = parseExifSubSeconds(*subSeconds).value_or(0);
        if (const auto offset = tagText(*exif, offsetTimeOriginalTag))
            taken->offsetSeconds = parseExifOffset(*offset);
        if (m_short)
            return {};
        return taken;
    }

    /// A read went past the bytes at hand. More bytes are asked for even where another read
    /// found damage: that one may be an optional tag, which leaves the date as it is.
    bool isShort() const { return m_short; }
    qint64 needed() const { return m_needed; }

private:
    static std::nullopt_t damaged() { return std::nullopt; }

    /// `size` bytes at `offset`, when the structure holds them and they are at hand.
    std::optional<QByteArrayView> view(qint64 offset, qint64 size)
    {
        const qint64 from = m_base + offset;
        if (offset < 0 || size < 0 || from + size > m_end || from + size > mostHeaderBytes)
            return damaged();
        if (from + size > m_bytes.size()) {
            if (m_wholeFile)
                return damaged();
            m_short = true;
            m_needed = std::max(m_needed, from + size);
            return std::nullopt;
        }
        return m_bytes.sliced(from, size);
    }

    quint16 number16(QByteArrayView bytes, qsizetype at) const
    {
        return m_little ? qFromLittleEndian<quint16>(bytes.data() + at)
                        : qFromBigEndian<quint16>(bytes.data() + at);
    }

    quint32 number32(QByteArrayView bytes, qsizetype at) const
    {
        return m_little ? qFromLittleEndian<quint32>(bytes.data() + at)
                        : qFromBigEndian<quint32>(bytes.data() + at);
    }

    /// The 12-byte entry of `tag` in the directory at `directory`.
    std::optional<QByteArrayView> entry(quint32 directory, quint16 tag)
    {
        const std::optional<QByteArrayView> count = view(directory, 2);
        if (!count)
            return {};
        const qint64 entries = number16(*count, 0);
        const std::optional<QByteArrayView> table = view(qint64(directory) + 2, 12 * entries);
        if (!table)
            return {};
        for (qint64 i = 0; i < entries; ++i) {
            if (number16(*table, 12 * i) == tag)
                return table->sliced(12 * i, 12);
        }
        return {};
    }

    std::optional<quint32> tagNumber(quint32 directory, quint16 tag)
    {
        const std::optional<QByteArrayView> found = entry(directory, tag);
        if (!found)
            return {};
        return number32(*found, 8);
    }

    std::optional<QByteArrayView> tagText(quint32 directory, quint16 tag)
    {
        const std::optional<QByteArrayView> found = entry(directory, tag);
        if (!found || number16(*found, 2) != asciiType)
            return {};
        const quint32 count = number32(*found, 4);
        if (count <= 4)
            return found->sliced(8, count);
        return view(number32(*found, 8), count);
    }

    QByteArrayView m_bytes;
    qint64 m_base;
    qint64 m_end;
    bool m_wholeFile;
    bool m_little = true;
    bool m_short = false;
    qint64 m_needed = 0;
};

DateTakenReading fromTiff(QByteArrayView bytes, qint64 base, qint64 end, bool wholeFile)
{
    TiffReader tiff(bytes, base, end, wholeFile);
    DateTakenReading reading;
    if (const std::optional<DateTaken> taken = tiff.read()) {
        reading.result = DateTakenReading::Result::Found;
        reading.taken = *taken;
    } else if (tiff.isShort()) {
        reading.result = DateTakenReading::Result::NeedMore;
        reading.needed = tiff.needed();
    }
    return reading;
}

DateTakenReading needMore(qint64 needed, bool wholeFile)
{
    DateTakenReading reading;
    if (!wholeFile && needed <= mostHeaderBytes) {
        reading.result = DateTakenReading::Result::NeedMore;
        reading.needed = needed;
    }
    return reading;
}

/// Digits only; the value, or -1.
int digitsValue(QByteArrayView text)
{
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return text.isEmpty() ? -1 : value;
}

/// The text of an ASCII value: up to its NUL, without surrounding blanks.
QByteArrayView trimmed(QByteArrayView text)
{
    if (const qsizetype nul = text.indexOf('\0'); nul >= 0)
        text = text.first(nul);
    return text.trimmed();
}

} // namespace

DateTakenReading readDateTaken(QByteArrayView start, bool wholeFile)
{
    if (start.startsWith("II*\0") || start.startsWith("MM\0*"))
        return fromTiff(start, 0, mostHeaderBytes, wholeFile);
    if (start.size() < 2)
        return needMore(2, wholeFile);
    if (uchar(start[0]) != 0xff || uchar(start[1]) != JpegMarkers::startOfImage)
        return {};
    const auto byte = [&](qint64 at) { return int(uchar(start[at])); };
    qint64 at = 2;
    for (;;) {
        if (at + 4 > start.size())
            return needMore(at + 4, wholeFile);
        if (byte(at) != 0xff)
            return {};
        const int marker = byte(at + 1);
        if (marker == 0xff) { // a fill byte before the marker
            ++at;
            continue;
        }
        // The date is written before the picture's data.
        if (marker == JpegMarkers::startOfScan || marker == JpegMarkers::endOfImage)
            return {};
        if (JpegMarkers::standsAlone(marker)) {
            at += 2;
            continue;
        }
        const qint64 length = byte(at + 2) << 8 | byte(at + 3);
        if (length < 2)
            return {};
        const qint64 end = at + 2 + length;
        if (marker == JpegMarkers::app1 && length >= 2 + 6) {
            if (at + 10 > start.size())
                return needMore(at + 10, wholeFile);
            if (start.sliced(at + 4, 6) == QByteArrayView("Exif\0\0", 6))
                return fromTiff(start, at + 10, end, wholeFile);
        }
        at = end;
    }
}

std::optional<qint64> DateTaken::sinceEpochNs() const
{
    if (!date.isValid() || !time.isValid())
        return {};
    // The clock's reading as if it were UTC.
    const qint64 clock =
        (date.toJulianDay() - daysFrom4713BcTo1970) * 86400 + time.msecsSinceStartOfDay() / 1000;
    qint64 seconds = 0;
    if (offsetSeconds) {
        seconds = clock - *offsetSeconds;
    } else if (const QDateTime local(date, time); local.isValid()) {
        seconds = local.toSecsSinceEpoch();
    } else {
        // A time the zone skips when its clocks go forward: a clock not set forward yet shows
        // it, so it is read with the offset in force just before.
        const QDateTime asUtc(date, time, Qt::UTC);
        std::optional<int> offsetBefore;
        for (int back = 1; back <= 96 && !offsetBefore; ++back) {
            const QDateTime earlier = asUtc.addSecs(-qint64(back) * 30 * 60);
            if (const QDateTime before(earlier.date(), earlier.time()); before.isValid())
                offsetBefore = before.offsetFromUtc();
        }
        if (!offsetBefore)
            return {};
        seconds = clock - *offsetBefore;
    }
    qint64 ns = 0;
    if (qMulOverflow(seconds, qint64(1000000000), &ns) ||
        qAddOverflow(ns, qint64(nanoseconds), &ns))
        return {};
    return ns;
}

std::optional<DateTaken> parseExifDateTime(QByteArrayView text)
{
    text = trimmed(text);
    // "YYYY:MM:DD HH:MM:SS"; some writers put other separators into the date, or a T between.
    if (text.size() != 19 || text[13] != ':' || text[16] != ':' ||
        (text[10] != ' ' && text[10] != 'T') || text[4] != text[7] ||
        (text[4] != ':' && text[4] != '-' && text[4] != '/'))
        return {};
    const int year = digitsValue(text.sliced(0, 4));
    const int month = digitsValue(text.sliced(5, 2));
    const int day = digitsValue(text.sliced(8, 2));
    const int hour = digitsValue(text.sliced(11, 2));
    const int minute = digitsValue(text.sliced(14, 2));
    const int second = digitsValue(text.sliced(17, 2));
    const QDate date(year, month, day);
    const QTime time(hour, minute, second);
    if (year <= 0 || !date.isValid() || hour < 0 || minute < 0 || second < 0 || !time.isValid())
        return {};
    DateTaken taken;
    taken.date = date;
    taken.time = time;
    return taken;
}

std::optional<int> parseExifSubSeconds(QByteArrayView text)
{
    text = trimmed(text);
    if (text.isEmpty() || digitsValue(text.first(std::min<qsizetype>(text.size(), 9))) < 0)
        return {};
    // A fraction: "5" is half a second, "050" fifty milliseconds.
    int ns = 0;
    for (qsizetype i = 0; i < 9; ++i)
        ns = ns * 10 + (i < text.size() ? text[i] - '0' : 0);
    return ns;
}

std::optional<int> parseExifOffset(QByteArrayView text)
{
    text = trimmed(text);
    if (text.size() != 6 || (text[0] != '+' && text[0] != '-') || text[3] != ':')
        return {};
    const int hours = digitsValue(text.sliced(1, 2));
    const int minutes = digitsValue(text.sliced(4, 2));
    if (hours < 0 || hours > 14 || minutes < 0 || minutes > 59)
        return {};
    const int seconds = hours * 3600 + minutes * 60;
    return text[0] == '-' ? -seconds : seconds;
}
