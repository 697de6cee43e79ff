#include "sourceorder.h"

#include "byposition.h"
#include "datetaken.h"
#include "paths.h"

#include <algorithm>
#include <numeric>
#include <vector>

namespace SourceOrder {

namespace {

/// Enough for the EXIF segment of most cameras' JPEGs up to their date tags, so that one read
/// usually does; the rest of the header is read only when the date lies further in.
constexpr qint64 firstRead = 16 * 1024;

std::optional<qint64> dateTakenOf(FileOperations &files, const QString &path)
{
    QByteArray start;
    qint64 wanted = firstRead;
    for (;;) {
        if (!files.readFileStart(path, wanted, start))
            return {};
        const DateTakenReading reading = readDateTaken(start, start.size() < wanted);
        switch (reading.result) {
        case DateTakenReading::Result::Found:
            return reading.taken.sinceEpochNs();
        case DateTakenReading::Result::Missing:
            return {};
        case DateTakenReading::Result::NeedMore:
            // Reading on in bigger steps keeps the reads per file few.
            if (reading.needed <= wanted)
                return {};
            wanted = std::min(std::max(reading.needed, wanted * 4), mostHeaderBytes);
            break;
        }
    }
}

} // namespace

std::optional<qint64> momentOf(FileOperations &files, const QString &path, ListOrder order)
{
    if (order == ListOrder::Taken) {
        if (const std::optional<qint64> taken = dateTakenOf(files, path))
            return taken;
    }
    const FileStatus status = files.status(path, true);
    if (!status.exists())
        return {};
    return status.modifiedNs;
}

void sort(FileOperations &files, const QString &folder, ListOrder order, QStringList &names)
{
    if (order == ListOrder::Name || names.size() < 2)
        return;
    std::vector<std::optional<qint64>> moments;
    moments.reserve(size_t(names.size()));
    for (const QString &name : std::as_const(names))
        moments.push_back(momentOf(files, Paths::join(folder, name), order));
    ListOrders::sortByPosition(names, [&](qsizetype a, qsizetype b) {
        const std::optional<qint64> &x = moments[size_t(a)];
        const std::optional<qint64> &y = moments[size_t(b)];
        if (x && y)
            return *x < *y;
        return x.has_value() && !y.has_value();
    });
}

} // namespace SourceOrder
