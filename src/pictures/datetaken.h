#pragma once

#include <QByteArrayView>
#include <QDate>
#include <QTime>

#include <optional>

/// When a photo was taken, as its EXIF header tells it: DateTimeOriginal, refined by
/// SubSecTimeOriginal and OffsetTimeOriginal where the camera wrote them.
struct DateTaken
{
    QDate date;
    QTime time; ///< to the second, as the camera's clock showed it
    int nanoseconds = 0;
    std::optional<int> offsetSeconds; ///< the clock's offset from UTC

    /// The moment in nanoseconds since the epoch: through the offset where it is known, else
    /// read in the local time zone (cameras keep local time), a time the zone skips with the
    /// offset before the skip. Nothing for dates out of range.
    std::optional<qint64> sinceEpochNs() const;
};

/// What the first bytes of a file say of its date taken.
struct DateTakenReading
{
    enum class Result
    {
        Found,
        Missing,  ///< no picture with a date taken (or a damaged header)
        NeedMore, ///< the header goes on past the bytes given
    };
    Result result = Result::Missing;
    DateTaken taken;
    qint64 needed = 0; ///< NeedMore: how many bytes from the start would do
};

/// Reads the date taken from the start of a JPEG (its EXIF segment) or of a TIFF-based file
/// (TIFF, DNG and most raw formats). Only the header is read: a JPEG's segments up to its first
/// scan, a TIFF's first directory and its EXIF directory. `wholeFile` tells that `start` is all
/// of the file. A header that reaches beyond mostHeaderBytes counts as missing.
DateTakenReading readDateTaken(QByteArrayView start, bool wholeFile);

/// The furthest into a file a date taken is looked for.
inline constexpr qint64 mostHeaderBytes = qint64(1) << 20;

/// The EXIF text forms, on their own: "YYYY:MM:DD HH:MM:SS", the digits of a fraction of a
/// second, "+HH:MM". Blank or malformed values give nothing.
std::optional<DateTaken> parseExifDateTime(QByteArrayView text);
std::optional<int> parseExifSubSeconds(QByteArrayView text);
std::optional<int> parseExifOffset(QByteArrayView text);
