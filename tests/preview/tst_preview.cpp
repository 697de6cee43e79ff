#include "childprocess.h"
#include "filenames.h"
#include "imagepreview.h"
#include "testfiles.h"

#include <QBuffer>
#include <QDeadlineTimer>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

/// Empties a folder by exact bytes: QTemporaryDir cannot remove names that are not UTF-8.
void removeContents(const QByteArray &folder)
{
    ::nftw(
        folder.constData(),
        [](const char *path, const struct stat *, int, FTW *where) {
            return where->level == 0 ? 0 : ::remove(path);
        },
        16, FTW_DEPTH | FTW_PHYS);
}

} // namespace

class PreviewTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void fit_data();
    void fit();
    void formats_data();
    void formats();
    void notAPicture_data();
    void notAPicture();
    void vanishedFileShowsNothing();
    void failureHidesThePreviousPicture();
    void largePhotoDecodesAtTheShownSize();
    void orientationTagTurnsThePhoto();
    void nonUtf8NameShowsThePicture();
    void fifoIsUnreadableAtOnce();
    void folderIsUnreadable();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    std::unique_ptr<QTemporaryDir> m_dir;
    // The inner size of the preview area, in twips.
    const QSizeF m_area{2460, 2115};
};

void PreviewTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void PreviewTest::cleanup()
{
    removeContents(FileNames::encode(m_dir->path()));
    m_dir.reset();
}

void PreviewTest::fit_data()
{
    QTest::addColumn<QSize>("pixels");
    QTest::addColumn<bool>("stretch");
    QTest::addColumn<float>("left");
    QTest::addColumn<float>("width");
    QTest::addColumn<float>("height");
    QTest::newRow("smaller than the area")
        << QSize(100, 50) << false << 3480.0f << 1500.0f << 750.0f;
    QTest::newRow("exactly the area's width")
        << QSize(164, 60) << false << 3000.0f << 2460.0f << 900.0f;
    QTest::newRow("twice as wide") << QSize(328, 100) << true << 3000.0f << 2460.0f << 750.0f;
    QTest::newRow("too high, not too wide")
        << QSize(100, 300) << true << 3877.5f << 705.0f << 2115.0f;
    QTest::newRow("too wide and too high")
        << QSize(1000, 1000) << true << 3172.5f << 2115.0f << 2115.0f;
    QTest::newRow("odd ratio") << QSize(333, 77) << true << 3000.0f << 2460.0f
                               << float(2460.0 / double(333 * 15.0f) * double(77 * 15.0f));
}

void PreviewTest::fit()
{
    QFETCH(QSize, pixels);
    QFETCH(bool, stretch);
    QFETCH(float, left);
    QFETCH(float, width);
    QFETCH(float, height);
    const PreviewPlacement p = fitPicture(pixels.width() * 15.0f, pixels.height() * 15.0f,
                                          float(m_area.width()), float(m_area.height()));
    QCOMPARE(p.stretch, stretch);
    QCOMPARE(p.left, left);
    QCOMPARE(p.width, width);
    QCOMPARE(p.height, height);
}

void PreviewTest::formats_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("format");
    QTest::newRow("bmp") << "a.bmp" << QByteArray("BMP");
    QTest::newRow("jpeg") << "a.jpg" << QByteArray("JPEG");
    QTest::newRow("png") << "a.png" << QByteArray("PNG");
    QTest::newRow("jpeg named bmp") << "renamed.bmp" << QByteArray("JPEG");
    QTest::newRow("png without extension") << "noext" << QByteArray("PNG");
    if (QImageWriter::supportedImageFormats().contains("tiff"))
        QTest::newRow("tiff") << "a.tif" << QByteArray("TIFF");
    if (QImageWriter::supportedImageFormats().contains("webp"))
        QTest::newRow("webp") << "a.webp" << QByteArray("WEBP");
}

void PreviewTest::formats()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, format);
    QImage image(328, 100, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QVERIFY(image.save(path(name), format.constData()));
    ImageView view;
    QCOMPARE(LoadImage(path(name), view, m_area), PreviewOutcome::Shown);
    QVERIFY(!view.isHidden());
    QCOMPARE(view.width(), 2460.0f);
    QCOMPARE(view.height(), 750.0f);
    QCOMPARE(view.left(), 3000.0f);
    QVERIFY(view.stretch());
    QCOMPARE(view.geometry(), QRect(200, 0, 164, 50));
}

void PreviewTest::notAPicture_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("text file") << "notes.txt" << QByteArray("just some text\r\n");
    QTest::newRow("text named jpg") << "fake.jpg" << QByteArray("not a jpeg at all");
    QTest::newRow("text named bmp") << "fake.bmp" << QByteArray("BMnot a bitmap");
    QTest::newRow("empty file") << "empty.jpg" << QByteArray();
    QTest::newRow("jpeg header only")
        << "cut.jpg" << QByteArray("\xff\xd8\xff\xe0\x00\x10JFIF", 10);
}

void PreviewTest::notAPicture()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QVERIFY(TestFiles::write(path(name), content));
    ImageView view;
    view.show();
    QCOMPARE(LoadImage(path(name), view, m_area), PreviewOutcome::NotAPicture);
    QVERIFY(view.isHidden());
}

void PreviewTest::vanishedFileShowsNothing()
{
    ImageView view;
    QCOMPARE(LoadImage(path("gone.jpg"), view, m_area), PreviewOutcome::Unreadable);
    QVERIFY(view.isHidden());
}

void PreviewTest::failureHidesThePreviousPicture()
{
    QImage image(10, 10, QImage::Format_RGB32);
    image.fill(Qt::red);
    QVERIFY(image.save(path("a.png")));
    QVERIFY(TestFiles::write(path("b.txt"), "x"));
    QWidget area;
    ImageView view(&area);
    area.show();
    QCOMPARE(LoadImage(path("a.png"), view, m_area), PreviewOutcome::Shown);
    QVERIFY(view.isVisible());
    QCOMPARE(LoadImage(path("b.txt"), view, m_area), PreviewOutcome::NotAPicture);
    QVERIFY(!view.isVisible());
    QVERIFY(view.picture().isNull());
}

void PreviewTest::largePhotoDecodesAtTheShownSize()
{
    QImage image(3000, 2000, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    QVERIFY(image.save(path("big.jpg"), "JPEG", 80));
    ImageView view;
    QCOMPARE(LoadImage(path("big.jpg"), view, m_area), PreviewOutcome::Shown);
    // Placed as the full picture would be; decoded no larger than shown.
    QCOMPARE(view.width(), 2460.0f);
    QCOMPARE(view.height(), 1640.0f);
    QVERIFY2(view.picture().width() <= 164, qPrintable(QString::number(view.picture().width())));
}

void PreviewTest::orientationTagTurnsThePhoto()
{
    QImage image(300, 100, QImage::Format_RGB32);
    image.fill(Qt::blue);
    QByteArray jpeg;
    {
        QBuffer buffer(&jpeg);
        QVERIFY(buffer.open(QIODevice::WriteOnly));
        QVERIFY(image.save(&buffer, "JPEG"));
    }
    // An Exif block whose orientation tag (6) says: turn 90 degrees clockwise to view.
    const QByteArray exif("\xff\xe1\x00\x22"
                          "Exif\x00\x00"
                          "MM\x00\x2a\x00\x00\x00\x08"
                          "\x00\x01"
                          "\x01\x12\x00\x03\x00\x00\x00\x01\x00\x06\x00\x00"
                          "\x00\x00\x00\x00",
                          36);
    jpeg.insert(2, exif);
    QVERIFY(TestFiles::write(path("turned.jpg"), jpeg));
    ImageView view;
    QCOMPARE(LoadImage(path("turned.jpg"), view, m_area), PreviewOutcome::Shown);
    // Upright it is 100 × 300 pixels: too high, not too wide.
    QCOMPARE(view.height(), 2115.0f);
    QCOMPARE(view.width(), 705.0f);
    QVERIFY(view.picture().height() > view.picture().width());
}

void PreviewTest::nonUtf8NameShowsThePicture()
{
    QImage image(328, 100, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray png;
    {
        QBuffer buffer(&png);
        QVERIFY(buffer.open(QIODevice::WriteOnly));
        QVERIFY(image.save(&buffer, "PNG"));
    }
    // テスト.png in Shift-JIS: no valid UTF-8.
    const QByteArray raw = FileNames::encode(m_dir->path()) + "/\x83\x65\x83\x58\x83\x67.png";
    const int fd = ::open(raw.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    QVERIFY(fd >= 0);
    const bool written = ::write(fd, png.constData(), size_t(png.size())) == png.size();
    ::close(fd);
    QVERIFY(written);

    ImageView view;
    QCOMPARE(LoadImage(FileNames::decode(raw), view, m_area), PreviewOutcome::Shown);
    QVERIFY(!view.isHidden());
    QCOMPARE(view.width(), 2460.0f);
    QCOMPARE(view.picture().pixelColor(0, 0), QColor(Qt::darkCyan));
}

void PreviewTest::fifoIsUnreadableAtOnce()
{
    const QString fifo = path("pipe.jpg");
    QVERIFY(::mkfifo(FileNames::encode(fifo).constData(), 0644) == 0);
    ImageView view;
    view.show();
    // Opened plainly, a pipe without a writer waits for one for ever.
    QVERIFY2(endsWithin(5000, [&] { LoadImage(fifo, view, m_area); }),
             "the preview of a pipe did not return");
    QCOMPARE(LoadImage(fifo, view, m_area), PreviewOutcome::Unreadable);
    QVERIFY(view.isHidden());
}

void PreviewTest::folderIsUnreadable()
{
    QVERIFY(QDir(m_dir->path()).mkdir("folder.jpg"));
    ImageView view;
    QCOMPARE(LoadImage(path("folder.jpg"), view, m_area), PreviewOutcome::Unreadable);
    QVERIFY(view.isHidden());
}

QTEST_MAIN(PreviewTest)
#include "tst_preview.moc"
