#include "childprocess.h"
#include "decodebudget.h"
#include "filenames.h"
#include "imagepreview.h"
#include "picturefiles.h"
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

constexpr qint64 mib = qint64(1) << 20;
const QRgb leftColour = qRgb(200, 40, 40);
const QRgb rightColour = qRgb(40, 40, 200);

/// Writes a two-colour picture (left half, right half) of the given kind: "bmp", "png grey",
/// "png colour" and "gif" without a whole QImage, the others through Qt's writers. A "bmp
/// header" has no pixels; a "bmp hole" has a hole of the pixels' length (zeros, no disk).
bool writePicture(const QString &path, const QString &kind, QSize size)
{
    const int w = size.width(), h = size.height();
    if (kind.startsWith(QLatin1String("bmp "))) {
        QFile file(path);
        const QByteArray header = PictureFiles::bmpHeader(w, h);
        return file.open(QIODevice::WriteOnly) && file.write(header) == header.size() &&
               (kind == QLatin1String("bmp header") ||
                file.resize(header.size() + PictureFiles::bmpRowBytes(w) * h));
    }
    if (kind == QLatin1String("bmp"))
        return PictureFiles::writeBmp(path, w, h, leftColour, rightColour);
    if (kind.startsWith(QLatin1String("png ")))
        return PictureFiles::writePng(path, w, h, kind.endsWith(QLatin1String("grey")), leftColour,
                                      rightColour);
    if (kind == QLatin1String("gif"))
        return PictureFiles::writeGif(path, w, h, leftColour, rightColour);
    QImage image(size, QImage::Format_RGB32);
    image.fill(rightColour);
    for (int y = 0; y < h; ++y)
        std::fill_n(reinterpret_cast<QRgb *>(image.scanLine(y)), w / 2, leftColour);
    return image.save(path, kind.toLatin1().constData(), 90);
}

bool near(QColor a, QColor b)
{
    const int tolerance = 12;
    return std::abs(a.red() - b.red()) <= tolerance &&
           std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

QColor expected(QRgb colour, const QString &kind)
{
    return kind.endsWith(QLatin1String("grey"))
               ? QColor(qGray(colour), qGray(colour), qGray(colour))
               : QColor(colour);
}

/// The picture in the view is placed as its full size says, no larger than shown, and shows
/// the two halves in their colours.
void verifyTwoColourPreview(const ImageView &view, QSize pixels, QSizeF area, const QString &kind)
{
    const PreviewPlacement p = fitPicture(pixels.width() * 15.0f, pixels.height() * 15.0f,
                                          float(area.width()), float(area.height()));
    QVERIFY(!view.isHidden());
    QCOMPARE(view.width(), p.width);
    QCOMPARE(view.height(), p.height);
    QCOMPARE(view.left(), p.left);
    const QImage &picture = view.picture();
    QVERIFY2(picture.width() <= std::lround(p.width / 15) &&
                 picture.height() <= std::lround(p.height / 15),
             qPrintable(
                 QStringLiteral("decoded at %1 x %2").arg(picture.width()).arg(picture.height())));
    const QColor left = picture.pixelColor(picture.width() / 4, picture.height() / 2);
    const QColor right = picture.pixelColor(picture.width() * 3 / 4, picture.height() / 2);
    QVERIFY2(near(left, expected(leftColour, kind)), qPrintable(left.name()));
    QVERIFY2(near(right, expected(rightColour, kind)), qPrintable(right.name()));
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
    void bigPictureShows_data();
    void bigPictureShows();
    void qtsOwnLimitDoesNotDecide_data();
    void qtsOwnLimitDoesNotDecide();
    void beyondTheBudget_data();
    void beyondTheBudget();
    void turnedPictureDecodedWhole();
    void shrinkPicture_data();
    void shrinkPicture();
    void budget_data();
    void budget();
    void machineBudget();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    std::unique_ptr<QTemporaryDir> m_dir;
    // The inner size of the preview area, in twips.
    const QSizeF m_area{2460, 2115};
    int m_qtLimit = 0;
};

void PreviewTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_qtLimit = QImageReader::allocationLimit();
}

void PreviewTest::cleanup()
{
    QImageReader::setAllocationLimit(m_qtLimit);
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

void PreviewTest::bigPictureShows_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QSize>("pixels");
    QTest::addColumn<qint64>("budget"); // 0: this machine's
    // 137 MiB as 32-bit pixels, more than Qt allows one picture by default.
    QTest::newRow("bmp/6000 x 6000") << "bmp" << QSize(6000, 6000) << qint64(0);
    // 381 MiB of grey, decoded whole: Qt's PNG reader reduces only colour while decoding.
    QTest::newRow("png grey/20000 x 20000")
        << "png grey" << QSize(20000, 20000) << qint64(1024 * mib);
    // Reduced while decoding: never needs its 1.5 GiB.
    QTest::newRow("png colour/12000 x 9000")
        << "png colour" << QSize(12000, 9000) << qint64(64 * mib);
}

void PreviewTest::bigPictureShows()
{
    QFETCH(QString, kind);
    QFETCH(QSize, pixels);
    QFETCH(qint64, budget);
    QVERIFY(writePicture(path("big"), kind, pixels));
    ImageView view;
    const std::optional<qint64> given = budget ? std::optional(budget) : std::nullopt;
    QCOMPARE(LoadImage(path("big"), view, m_area, 1.0, given), PreviewOutcome::Shown);
    verifyTwoColourPreview(view, pixels, m_area, kind);
}

void PreviewTest::qtsOwnLimitDoesNotDecide_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("bmp") << "bmp";
    QTest::newRow("png grey") << "png grey";
    QTest::newRow("png colour") << "png colour";
    QTest::newRow("gif") << "gif";
    QTest::newRow("jpeg") << "jpeg";
    if (QImageWriter::supportedImageFormats().contains("tiff"))
        QTest::newRow("tiff") << "tiff";
    if (QImageWriter::supportedImageFormats().contains("webp"))
        QTest::newRow("webp") << "webp";
}

void PreviewTest::qtsOwnLimitDoesNotDecide()
{
    QFETCH(QString, kind);
    const QSize pixels(1200, 900);
    QVERIFY(writePicture(path("picture"), kind, pixels));
    // Far below the 4 MiB of the whole picture, as Qt's default is below a big picture's.
    QImageReader::setAllocationLimit(1);
    ImageView view;
    QCOMPARE(LoadImage(path("picture"), view, m_area), PreviewOutcome::Shown);
    verifyTwoColourPreview(view, pixels, m_area, kind);
    QCOMPARE(QImageReader::allocationLimit(), 1);
}

void PreviewTest::beyondTheBudget_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QSize>("pixels");
    QTest::addColumn<PreviewOutcome>("outcome");
    QTest::newRow("bmp/too large") << "bmp" << QSize(2000, 2000) << PreviewOutcome::TooLarge;
    QTest::newRow("png grey/too large")
        << "png grey" << QSize(5000, 5000) << PreviewOutcome::TooLarge;
    QTest::newRow("gif/too large") << "gif" << QSize(2000, 2000) << PreviewOutcome::TooLarge;
    if (QImageWriter::supportedImageFormats().contains("tiff"))
        QTest::newRow("tiff/too large") << "tiff" << QSize(1500, 1500) << PreviewOutcome::TooLarge;
    // Qt's BMP reader refuses more than 16384 × 16384 pixels at the header.
    QTest::newRow("bmp/beyond Qt's reader")
        << "bmp hole" << QSize(20000, 20000) << PreviewOutcome::TooLarge;
    QTest::newRow("bmp/damaged, small")
        << "bmp header" << QSize(100, 100) << PreviewOutcome::NotAPicture;
    QTest::newRow("jpeg/reduced while decoding")
        << "jpeg" << QSize(4000, 3000) << PreviewOutcome::Shown;
    QTest::newRow("png colour/reduced while decoding")
        << "png colour" << QSize(4000, 3000) << PreviewOutcome::Shown;
}

void PreviewTest::beyondTheBudget()
{
    QFETCH(QString, kind);
    QFETCH(QSize, pixels);
    QFETCH(PreviewOutcome, outcome);
    QVERIFY(writePicture(path("picture"), kind, pixels));
    ImageView view;
    view.show();
    QCOMPARE(LoadImage(path("picture"), view, m_area, 1.0, 4 * mib), outcome);
    if (outcome == PreviewOutcome::Shown) {
        verifyTwoColourPreview(view, pixels, m_area, kind);
    } else {
        QVERIFY(view.isHidden());
        QVERIFY(view.picture().isNull());
    }
}

void PreviewTest::turnedPictureDecodedWhole()
{
    QImageWriter writer(path("turned.tif"), "tiff");
    if (!writer.supportsOption(QImageIOHandler::ImageTransformation))
        QSKIP("no TIFF writer with an orientation tag");
    QImage image(300, 100, QImage::Format_RGB32);
    image.fill(rightColour);
    image.fill(rightColour);
    for (int y = 0; y < 100; ++y)
        std::fill_n(reinterpret_cast<QRgb *>(image.scanLine(y)), 150, leftColour);
    writer.setTransformation(QImageIOHandler::TransformationRotate90);
    QVERIFY(writer.write(image));
    ImageView view;
    QCOMPARE(LoadImage(path("turned.tif"), view, m_area, 1.0, 4 * mib), PreviewOutcome::Shown);
    // Upright it is 100 × 300 pixels, the left half turned to the top.
    QCOMPARE(view.height(), 2115.0f);
    QCOMPARE(view.width(), 705.0f);
    const QImage &picture = view.picture();
    QVERIFY(picture.height() > picture.width());
    QVERIFY(near(picture.pixelColor(picture.width() / 2, picture.height() / 4), leftColour));
    QVERIFY(near(picture.pixelColor(picture.width() / 2, picture.height() * 3 / 4), rightColour));
}

void PreviewTest::shrinkPicture_data()
{
    QTest::addColumn<QImage::Format>("format");
    QTest::addColumn<QSize>("pixels");
    QTest::addColumn<QSize>("target");
    QTest::newRow("small/rgb32") << QImage::Format_RGB32 << QSize(300, 200) << QSize(150, 100);
    QTest::newRow("banded/rgb32") << QImage::Format_RGB32 << QSize(3000, 3000) << QSize(150, 150);
    QTest::newRow("banded/argb32") << QImage::Format_ARGB32 << QSize(4000, 3001) << QSize(164, 123);
    QTest::newRow("banded/grey") << QImage::Format_Grayscale8 << QSize(9001, 3000)
                                 << QSize(164, 55);
    QTest::newRow("banded/indexed")
        << QImage::Format_Indexed8 << QSize(5000, 7000) << QSize(101, 141);
}

void PreviewTest::shrinkPicture()
{
    QFETCH(QImage::Format, format);
    QFETCH(QSize, pixels);
    QFETCH(QSize, target);
    // Four quarters, so that a misplaced band shows.
    const QList<QRgb> colours{qRgb(200, 40, 40), qRgb(40, 200, 40), qRgb(40, 40, 200),
                              qRgb(220, 220, 220)};
    QImage image(pixels, QImage::Format_Indexed8);
    image.setColorTable(colours);
    for (int y = 0; y < pixels.height(); ++y) {
        uchar *line = image.scanLine(y);
        for (int x = 0; x < pixels.width(); ++x)
            line[x] = uchar((y * 2 / pixels.height()) * 2 + x * 2 / pixels.width());
    }
    if (format != QImage::Format_Indexed8)
        image = image.convertToFormat(format);
    const QImage plain = image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const QImage shrunk = ::shrinkPicture(image, target);
    QCOMPARE(shrunk.size(), target);
    // Beside Qt's own smooth scaling of the whole picture, away from the quarters' edges.
    for (int y = 0; y < target.height(); ++y) {
        if (std::abs(2 * y + 1 - target.height()) <= 2)
            continue;
        for (int x = 0; x < target.width(); ++x) {
            if (std::abs(2 * x + 1 - target.width()) <= 2)
                continue;
            QVERIFY2(near(shrunk.pixelColor(x, y), plain.pixelColor(x, y)),
                     qPrintable(
                         QStringLiteral("at %1, %2: %3, not %4")
                             .arg(x)
                             .arg(y)
                             .arg(shrunk.pixelColor(x, y).name(), plain.pixelColor(x, y).name())));
        }
    }
}

void PreviewTest::budget_data()
{
    QTest::addColumn<qint64>("available");
    QTest::addColumn<qint64>("budget");
    QTest::newRow("unknown") << qint64(0) << 256 * mib;
    QTest::newRow("little") << 512 * mib << 256 * mib;
    QTest::newRow("a quarter/4 GiB") << 4096 * mib << 1024 * mib;
    QTest::newRow("a quarter/6 GiB") << 6144 * mib << 1536 * mib;
    QTest::newRow("at most/64 GiB") << 65536 * mib << 2048 * mib;
}

void PreviewTest::budget()
{
    QFETCH(qint64, available);
    QFETCH(qint64, budget);
    QCOMPARE(DecodeBudget::forAvailable(available), budget);
}

void PreviewTest::machineBudget()
{
    QVERIFY(DecodeBudget::availableMemory() > 0);
    const qint64 budget = DecodeBudget::bytes();
    QVERIFY2(budget >= 256 * mib && budget <= 2048 * mib, qPrintable(QString::number(budget)));
}

QTEST_MAIN(PreviewTest)
#include "tst_preview.moc"
