#include "datetaken.h"
#include "exiffiles.h"

#include <QDateTime>
#include <QScopeGuard>
#include <QTest>

#include <ctime>

using ExifFiles::Tags;
using Result = DateTakenReading::Result;

/// The date taken as the headers of JPEG and TIFF-based files tell it, read from their first
/// bytes only.
class DateTakenTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsTheDateTaken_data();
    void readsTheDateTaken();
    void anyPrefixAsksForMoreOrReadsTheSame_data();
    void anyPrefixAsksForMoreOrReadsTheSame();
    void exifTexts_data();
    void exifTexts();
    void moments();
};

namespace {

const Tags plain{"2023:08:14 09:30:05", {}, {}};
const Tags refined{"2023:08:14 09:30:05", "25", "+09:00"};

/// The reading of a file read whole.
DateTakenReading readWhole(const QByteArray &bytes)
{
    return readDateTaken(bytes, true);
}

} // namespace

void DateTakenTest::readsTheDateTaken_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("found");
    QTest::addColumn<int>("nanoseconds");
    QTest::addColumn<int>("offset"); // -1 for none

    QTest::newRow("jpeg/little endian") << ExifFiles::jpeg(plain) << true << 0 << -1;
    QTest::newRow("jpeg/big endian") << ExifFiles::jpeg(plain, true) << true << 0 << -1;
    QTest::newRow("jpeg/refined") << ExifFiles::jpeg(refined, true) << true << 250000000 << 32400;
    QTest::newRow("jpeg/behind a large segment")
        << ExifFiles::jpeg(refined, false, 60000, 30000) << true << 250000000 << 32400;
    QByteArray filled = ExifFiles::jpeg(plain);
    filled.insert(2, QByteArray(5, '\xff')); // fill bytes before the first marker
    QTest::newRow("jpeg/fill bytes") << filled << true << 0 << -1;
    QTest::newRow("tiff/little endian") << ExifFiles::tiff(refined) << true << 250000000 << 32400;
    QTest::newRow("tiff/big endian") << ExifFiles::tiff(plain, true) << true << 0 << -1;

    QTest::newRow("none/jpeg without exif") << ExifFiles::jpeg({}) << false << 0 << -1;
    QTest::newRow("none/blank date")
        << ExifFiles::jpeg({"    :  :     :  :  ", {}, {}}) << false << 0 << -1;
    QTest::newRow("none/zero date")
        << ExifFiles::jpeg({"0000:00:00 00:00:00", {}, {}}) << false << 0 << -1;
    QTest::newRow("none/png") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) << false << 0
                              << -1;
    QTest::newRow("none/empty file") << QByteArray() << false << 0 << -1;
    // The date is read before the picture's data, never after it.
    QByteArray afterScan = ExifFiles::jpeg({});
    afterScan.insert(afterScan.size() - 2,
                     ExifFiles::segment(0xe1, QByteArray("Exif\0\0", 6) + ExifFiles::tiff(plain)));
    QTest::newRow("none/exif after the scan") << afterScan << false << 0 << -1;
    QByteArray damaged = ExifFiles::jpeg(plain);
    damaged[damaged.indexOf("II*") + 26] = '\xff'; // the EXIF directory's entry count
    QTest::newRow("none/directory past its segment") << damaged << false << 0 << -1;
}

void DateTakenTest::readsTheDateTaken()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, found);
    QFETCH(int, nanoseconds);
    QFETCH(int, offset);
    const DateTakenReading reading = readWhole(file);
    QCOMPARE(reading.result, found ? Result::Found : Result::Missing);
    if (!found)
        return;
    QCOMPARE(reading.taken.date, QDate(2023, 8, 14));
    QCOMPARE(reading.taken.time, QTime(9, 30, 5));
    QCOMPARE(reading.taken.nanoseconds, nanoseconds);
    QCOMPARE(reading.taken.offsetSeconds.value_or(-1), offset);
}

void DateTakenTest::anyPrefixAsksForMoreOrReadsTheSame_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::newRow("jpeg") << ExifFiles::jpeg(refined, false, 300, 200);
    QTest::newRow("jpeg/big endian") << ExifFiles::jpeg(refined, true);
    QTest::newRow("tiff") << ExifFiles::tiff(refined, true, 100);
    QTest::newRow("jpeg without exif") << ExifFiles::jpeg({}, false, 100);
    // The sub-seconds' value lies far past its segment, the offset after the date: the date
    // stays, with the offset read once it is at hand.
    QByteArray badSubSeconds = ExifFiles::jpeg({"2023:08:14 09:30:05", "250000", "+09:00"});
    badSubSeconds[badSubSeconds.indexOf("II*") + 26 + 2 + 2 * 12 + 8 + 3] = '\x7f';
    QTest::newRow("jpeg/damaged sub-seconds") << badSubSeconds;
}

void DateTakenTest::anyPrefixAsksForMoreOrReadsTheSame()
{
    // Reading a file a piece at a time, as far as each reading asks, ends where reading it whole
    // does; a file cut short is never read past its end.
    QFETCH(QByteArray, file);
    const DateTakenReading whole = readWhole(file);
    for (qsizetype length = 0; length <= file.size(); ++length) {
        const QByteArray start = file.first(length);
        const DateTakenReading part = readDateTaken(start, false);
        if (part.result == Result::NeedMore) {
            QVERIFY2(
                part.needed > length && part.needed <= file.size(),
                qPrintable(QStringLiteral("%1 bytes ask for %2").arg(length).arg(part.needed)));
        } else {
            QCOMPARE(part.result, whole.result);
            QCOMPARE(part.taken.date, whole.taken.date);
            QCOMPARE(part.taken.nanoseconds, whole.taken.nanoseconds);
            QCOMPARE(part.taken.offsetSeconds, whole.taken.offsetSeconds);
        }
        // A file that ends there: a date only where the whole file has that very date.
        const DateTakenReading cut = readDateTaken(start, true);
        QVERIFY(cut.result != Result::NeedMore);
        if (cut.result == Result::Found) {
            QCOMPARE(whole.result, Result::Found);
            QCOMPARE(cut.taken.nanoseconds, whole.taken.nanoseconds);
        }
    }
}

void DateTakenTest::exifTexts_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("parsed"); // ISO date and time, or empty for none

    QTest::newRow("date/exif") << QByteArray("2024:02:29 23:59:58") << "2024-02-29T23:59:58";
    QTest::newRow("date/with NUL and blanks")
        << QByteArray(" 2024:02:29 23:59:58\0", 21) << "2024-02-29T23:59:58";
    QTest::newRow("date/dashes and T")
        << QByteArray("2024-02-29T23:59:58") << "2024-02-29T23:59:58";
    QTest::newRow("date/no leap day") << QByteArray("2023:02:29 12:00:00") << "";
    QTest::newRow("date/hour 24") << QByteArray("2023:02:28 24:00:00") << "";
    QTest::newRow("date/mixed separators") << QByteArray("2023:02-28 12:00:00") << "";
    QTest::newRow("date/short") << QByteArray("2023:02:28 12:00") << "";
    QTest::newRow("date/letters") << QByteArray("2023:0a:28 12:00:00") << "";
}

void DateTakenTest::exifTexts()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, parsed);
    const std::optional<DateTaken> taken = parseExifDateTime(text);
    QCOMPARE(taken.has_value(), !parsed.isEmpty());
    if (taken)
        QCOMPARE(QDateTime(taken->date, taken->time).toString(Qt::ISODate), parsed);
}

void DateTakenTest::moments()
{
    // Sub-seconds are a fraction; an offset places the clock's time on the world's.
    QCOMPARE(parseExifSubSeconds("5"), 500000000);
    QCOMPARE(parseExifSubSeconds("050 "), 50000000);
    QCOMPARE(parseExifSubSeconds("1234567891"), 123456789);
    QCOMPARE(parseExifSubSeconds("  "), std::nullopt);
    QCOMPARE(parseExifOffset("+09:00"), 32400);
    QCOMPARE(parseExifOffset("-03:30"), -12600);
    QCOMPARE(parseExifOffset("   :  "), std::nullopt);
    QCOMPARE(parseExifOffset("+25:00"), std::nullopt);

    DateTaken tokyo = *parseExifDateTime("2023:08:14 09:30:05");
    tokyo.offsetSeconds = 32400;
    tokyo.nanoseconds = 250000000;
    const QDateTime utc(QDate(2023, 8, 14), QTime(0, 30, 5), Qt::UTC);
    QCOMPARE(tokyo.sinceEpochNs(), utc.toSecsSinceEpoch() * 1000000000 + 250000000);
    // The same clock time in Paris is seven hours later.
    DateTaken paris = tokyo;
    paris.offsetSeconds = 7200;
    QCOMPARE(*paris.sinceEpochNs() - *tokyo.sinceEpochNs(), qint64(7) * 3600 * 1000000000);
    // Without an offset the clock's time is the local time zone's.
    DateTaken local = tokyo;
    local.offsetSeconds.reset();
    QCOMPARE(local.sinceEpochNs(),
             QDateTime(local.date, local.time).toSecsSinceEpoch() * 1000000000 + 250000000);
    // A camera that keeps no daylight saving shows times the zone skips; they keep their place.
    const QByteArray zone = qgetenv("TZ");
    const auto restoreZone = qScopeGuard([&zone] {
        zone.isNull() ? qunsetenv("TZ") : qputenv("TZ", zone);
        ::tzset();
    });
    qputenv("TZ", "America/New_York");
    ::tzset();
    const auto newYork = [](const char *text) { return parseExifDateTime(text)->sinceEpochNs(); };
    const std::optional<qint64> skipped = newYork("2021:03:14 02:30:00");
    QVERIFY(skipped);
    QVERIFY(*newYork("2021:03:14 01:00:00") < *skipped);
    QVERIFY(*skipped < *newYork("2021:03:14 04:00:00"));
    // Beyond what nanoseconds since 1970 can count.
    DateTaken far = *parseExifDateTime("9999:12:31 23:59:59");
    far.offsetSeconds = 0;
    QCOMPARE(far.sinceEpochNs(), std::nullopt);
}

QTEST_GUILESS_MAIN(DateTakenTest)
#include "tst_datetaken.moc"
