#include "exiffiles.h"
#include "forwardingfiles.h"
#include "naturalorder.h"
#include "sourceorder.h"

#include <QDateTime>
#include <QTemporaryDir>
#include <QTest>

/// The source list's orders on real files: date taken from the headers, else the modification
/// time; files of one moment in name order.
class SourceOrderTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void orders_data();
    void orders();
    void onlyHeadersAreRead();

private:
    QTemporaryDir m_dir;
};

namespace {

/// Real reads, each one's size noted.
class CountedReads final : public ForwardingFileOperations
{
public:
    KAENAMI_PATH_FORMS(ForwardingFileOperations);
    OpResult readFileStart(const QString &path, qint64 maxBytes, QByteArray &bytes) override
    {
        asked.append(maxBytes);
        return ForwardingFileOperations::readFileStart(path, maxBytes, bytes);
    }
    OpResult readFile(const QString &path, QByteArray &bytes) override
    {
        asked.append(-1);
        return ForwardingFileOperations::readFile(path, bytes);
    }
    QList<qint64> asked;
};

qint64 utc(int hour, int minute)
{
    return QDateTime(QDate(2023, 8, 14), QTime(hour, minute), Qt::UTC).toSecsSinceEpoch();
}

/// The same photos everywhere: the moments they were taken (by the world's clock) and the
/// times they were last changed differ, and some share a moment.
struct Photo
{
    const char *name;
    QByteArray file;
    qint64 modified;
};

const QList<Photo> &photos()
{
    using ExifFiles::jpeg;
    static const QList<Photo> list{
        // 10:00 in Tokyo is 01:00 in the world; two cameras caught the same second.
        {"img10.jpg", jpeg({"2023:08:14 10:00:00", {}, "+09:00"}), utc(20, 0)},
        {"img9.jpg", jpeg({"2023:08:14 10:00:00", {}, "+09:00"}), utc(21, 0)},
        {"burst.jpg", jpeg({"2023:08:14 10:00:00", "5", "+09:00"}), utc(19, 0)},
        // 09:00 in London comes later, though its clock shows an earlier hour.
        {"london.jpg", jpeg({"2023:08:14 09:00:00", {}, "+00:00"}), utc(18, 0)},
        // A raw file, and a photo whose date lies beyond the first read.
        {"raw.dng", ExifFiles::tiff({"2023:08:14 03:00:00", {}, "+00:00"}), utc(23, 0)},
        {"big.jpg", jpeg({"2023:08:14 02:00:00", {}, "+00:00"}, false, 40000), utc(22, 0)},
        // No date taken: its modification time stands in.
        {"notes.txt", "no picture", utc(5, 0)},
        {"gone.jpg", {}, 0},
    };
    return list;
}

} // namespace

void SourceOrderTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    for (const Photo &photo : photos()) {
        if (!photo.file.isNull())
            QVERIFY(ExifFiles::write(m_dir.filePath(photo.name), photo.file, photo.modified));
    }
}

void SourceOrderTest::orders_data()
{
    QTest::addColumn<ListOrder>("order");
    QTest::addColumn<QStringList>("expected");
    // A file that is listed but gone by now comes last.
    QTest::newRow("name") << ListOrder::Name
                          << QStringList{"big.jpg",   "burst.jpg",  "gone.jpg",  "img9.jpg",
                                         "img10.jpg", "london.jpg", "notes.txt", "raw.dng"};
    QTest::newRow("taken") << ListOrder::Taken
                           << QStringList{"img9.jpg", "img10.jpg", "burst.jpg",  "big.jpg",
                                          "raw.dng",  "notes.txt", "london.jpg", "gone.jpg"};
    QTest::newRow("modified") << ListOrder::Modified
                              << QStringList{"notes.txt", "london.jpg", "burst.jpg", "img10.jpg",
                                             "img9.jpg",  "big.jpg",    "raw.dng",   "gone.jpg"};
}

void SourceOrderTest::orders()
{
    QFETCH(ListOrder, order);
    QFETCH(QStringList, expected);
    QStringList names;
    for (const Photo &photo : photos())
        names.append(QString::fromLatin1(photo.name));
    NaturalOrder::sort(names);
    CountedReads files;
    SourceOrder::sort(files, m_dir.path(), order, names);
    QCOMPARE(names, expected);
}

void SourceOrderTest::onlyHeadersAreRead()
{
    // A photo of several megabytes: its header is what is read, never the picture.
    const QString path = m_dir.filePath("large.jpg");
    QByteArray large = ExifFiles::jpeg({"2023:08:14 07:00:00", {}, "+00:00"});
    large.insert(large.size() - 2, QByteArray(8 << 20, '\x2a'));
    QVERIFY(ExifFiles::write(path, large, utc(1, 0)));
    CountedReads files;
    QCOMPARE(SourceOrder::momentOf(files, path, ListOrder::Taken), utc(7, 0) * qint64(1000000000));
    QCOMPARE(files.asked.size(), 1);
    QVERIFY2(files.asked.first() > 0 && files.asked.first() <= 64 * 1024,
             qPrintable(QString::number(files.asked.first())));
    // The header beyond the first read is read on, not the whole file.
    files.asked.clear();
    QCOMPARE(SourceOrder::momentOf(files, m_dir.filePath("big.jpg"), ListOrder::Taken),
             utc(2, 0) * qint64(1000000000));
    QVERIFY2(files.asked.size() == 2 && files.asked.last() < 1 << 20,
             qPrintable(QString::number(files.asked.size())));
}

QTEST_GUILESS_MAIN(SourceOrderTest)
#include "tst_sourceorder.moc"
