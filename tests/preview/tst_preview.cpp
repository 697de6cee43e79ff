#include "availablememory.h"
#include "childprocess.h"
#include "decodebudget.h"
#include "filenames.h"
#include "imagepreview.h"
#include "jpeglayout.h"
#include "picturefiles.h"
#include "testfiles.h"

#include <QBuffer>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QThreadPool>

#include <csignal>
#include <fcntl.h>
#include <ftw.h>
#include <sys/resource.h>
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

/// This process's address space, in bytes; 0 when it cannot be read.
qint64 addressSpace()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith("VmSize:"))
            return line.mid(7).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return 0;
}

/// Runs `work` in a child process whose address space may grow by no more than `headroom`
/// bytes: what it returns, 124 when an exception left it, or -1 when the child was ended by a
/// signal or had not ended within a minute.
template <typename Work> int withHeadroom(qint64 headroom, Work work)
{
    // The child would not have the pool's idle threads: a task handed to one would never run.
    QThreadPool::globalInstance()->waitForDone();
    const pid_t child = ::fork();
    if (child == 0) {
        // A crash ends the child at once: Qt Test's handler would look for a debugger first.
        for (const int signal : {SIGABRT, SIGSEGV, SIGBUS, SIGILL, SIGFPE})
            std::signal(signal, SIG_DFL);
        const qint64 size = addressSpace();
        const rlimit limit{rlim_t(size + headroom), rlim_t(size + headroom)};
        if (size <= 0 || ::setrlimit(RLIMIT_AS, &limit) != 0)
            ::_exit(125);
        // Nothing may leave the child but through here: Qt Test would go on with its next test.
        try {
            ::_exit(work());
        } catch (...) {
            ::_exit(124);
        }
    }
    if (child < 0)
        return -2;
    const QDeadlineTimer deadline(60000);
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (deadline.hasExpired()) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return -1;
        }
        QThread::msleep(10);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

/// The outcome of a preview in a child process with `headroom` bytes to grow by, as a number;
/// 8 more when Qt's allocation limit was not given back.
int outcomeWithHeadroom(qint64 headroom, const QString &path, QSizeF area, qint64 budget)
{
    return withHeadroom(headroom, [&] {
        QImageReader::setAllocationLimit(77);
        ImageView view;
        const PreviewOutcome outcome = LoadImage(path, view, area, 1.0, budget);
        return int(outcome) + (QImageReader::allocationLimit() == 77 ? 0 : 8);
    });
}

/// `image` as a file of `format` would hold it.
QByteArray encoded(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    return image.save(&buffer, format) ? bytes : QByteArray();
}

/// A 64 × 64 JPEG of a grey or colour pattern, so that every scan carries data.
QByteArray jpegPicture(bool progressive, bool grey)
{
    QImage image(64, 64, QImage::Format_RGB32);
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x)
            image.setPixel(x, y,
                           grey ? qRgb(x * y & 255, x * y & 255, x * y & 255)
                                : qRgb(x * 4, y * 4, (x + y) * 2));
    }
    if (grey)
        image = image.convertToFormat(QImage::Format_Grayscale8);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setProgressiveScanWrite(progressive);
    return writer.write(image) ? jpeg : QByteArray();
}

/// `jpeg` with the size in its frame header changed: a header that asks for more than the data
/// fill.
QByteArray withFrameSize(QByteArray jpeg, QSize size)
{
    for (qsizetype at = 2; at + 9 <= jpeg.size();) {
        const int marker = uchar(jpeg.at(at + 1));
        if (marker == 0xc0 || marker == 0xc2) {
            qToBigEndian(quint16(size.height()), jpeg.data() + at + 5);
            qToBigEndian(quint16(size.width()), jpeg.data() + at + 7);
            return jpeg;
        }
        at += 2 + qFromBigEndian<quint16>(jpeg.constData() + at + 2);
    }
    return {};
}

/// A little-endian TIFF header of an uncompressed 8-bit RGB picture with 16 bytes of pixels.
QByteArray tiffHeader(quint32 width, quint32 height)
{
    using PictureFiles::Detail::put16, PictureFiles::Detail::put32;
    constexpr quint32 entries = 10;
    constexpr quint32 depths = 8 + 2 + entries * 12 + 4;
    constexpr quint32 pixels = depths + 8;
    QByteArray out("II*\0", 4);
    put32(out, 8);
    put16(out, entries);
    const auto entry = [&](quint16 tag, quint16 type, quint32 count, quint32 value) {
        put16(out, tag);
        put16(out, type);
        put32(out, count);
        put32(out, value);
    };
    entry(256, 4, 1, width);
    entry(257, 4, 1, height);
    entry(258, 3, 3, depths); // bits per sample
    entry(259, 3, 1, 1);      // no compression
    entry(262, 3, 1, 2);      // RGB
    entry(273, 4, 1, pixels); // strip offset
    entry(277, 3, 1, 3);      // samples per pixel
    entry(278, 4, 1, height); // rows per strip
    entry(279, 4, 1, 16);     // strip byte count
    entry(284, 3, 1, 1);      // planar configuration: chunky
    put32(out, 0);
    for (int i = 0; i < 4; ++i)
        put16(out, 8);
    out.append(16, '\0');
    return out;
}

/// The data of the first chunk of `type` in a PNG file; empty when there is none.
QByteArray pngChunkData(const QByteArray &png, const char *type)
{
    for (qsizetype at = 8; at + 12 <= png.size();) {
        const qsizetype length = qFromBigEndian<quint32>(png.constData() + at);
        if (png.mid(at + 4, 4) == type)
            return png.mid(at + 8, length);
        at += 12 + length;
    }
    return {};
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
    void onePalettePngKeepsItsColours_data();
    void onePalettePngKeepsItsColours();
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
    void wholeFileCounts_data();
    void wholeFileCounts();
    void failedAllocationIsTooLarge();
    void widePictureShrinksInLittleMemory();
    void jpegLayout_data();
    void jpegLayout();
    void jpegCoefficients_data();
    void jpegCoefficients();
    void jpegReadToItsEnd_data();
    void jpegReadToItsEnd();
    void headerSizesSaturate();
    void jpegFillBytesCount_data();
    void jpegFillBytesCount();

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

void PreviewTest::onePalettePngKeepsItsColours_data()
{
    QTest::addColumn<QImage::Format>("format");
    QTest::addColumn<int>("entries"); // of the palette; a second entry is used on the right
    QTest::addColumn<bool>("rightUsed");
    QTest::addColumn<QSizeF>("area"); // twips; 400 × 100 pixels are 6000 × 1500
    const QSizeF whole(6000, 6000), half(3000, 3000), less(2460, 2115), tenth(600, 600);
    QTest::newRow("one colour/full size") << QImage::Format_Mono << 1 << false << whole;
    QTest::newRow("one colour/half size") << QImage::Format_Mono << 1 << false << half;
    QTest::newRow("one colour/less than half") << QImage::Format_Mono << 1 << false << less;
    QTest::newRow("one colour/a tenth") << QImage::Format_Mono << 1 << false << tenth;
    QTest::newRow("one colour/LSB first") << QImage::Format_MonoLSB << 1 << false << less;
    QTest::newRow("two entries/one used") << QImage::Format_Mono << 2 << false << less;
    QTest::newRow("two entries/both used") << QImage::Format_Mono << 2 << true << less;
}

void PreviewTest::onePalettePngKeepsItsColours()
{
    QFETCH(QImage::Format, format);
    QFETCH(int, entries);
    QFETCH(bool, rightUsed);
    QFETCH(QSizeF, area);
    const QRgb red = qRgb(255, 0, 0), blue = qRgb(0, 0, 255);
    QImage image(400, 100, format);
    image.setColorTable(entries == 1 ? QList<QRgb>{red} : QList<QRgb>{red, blue});
    image.fill(0);
    for (int y = 0; rightUsed && y < image.height(); ++y) {
        for (int x = image.width() / 2; x < image.width(); ++x)
            image.setPixel(x, y, 1);
    }
    const QByteArray png = encoded(image, "png");
    // A palette picture (colour type 3) of depth 1 with a palette of `entries` colours.
    const QByteArray header = pngChunkData(png, "IHDR");
    QCOMPARE(header.size(), 13);
    QCOMPARE(int(header.at(8)), 1);
    QCOMPARE(int(header.at(9)), 3);
    QCOMPARE(pngChunkData(png, "PLTE").size(), 3 * entries);
    QVERIFY(TestFiles::write(path("palette.png"), png));

    ImageView view;
    QCOMPARE(LoadImage(path("palette.png"), view, area), PreviewOutcome::Shown);
    const QImage &shown = view.picture();
    QVERIFY(!shown.isNull());
    const int y = shown.height() / 2;
    const QColor left = shown.pixelColor(shown.width() / 4, y);
    const QColor right = shown.pixelColor(shown.width() * 3 / 4, y);
    QVERIFY2(near(left, QColor(red)), qPrintable(left.name()));
    QVERIFY2(near(right, QColor(rightUsed ? blue : red)), qPrintable(right.name()));
    // Every pixel of a one-colour picture has that colour: no hatch.
    if (!rightUsed) {
        const QImage pixels = shown.convertToFormat(QImage::Format_RGB32);
        for (int x = 0; x < pixels.width(); ++x)
            QVERIFY2(near(pixels.pixelColor(x, y), QColor(red)), qPrintable(QString::number(x)));
    }
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
    QByteArray jpeg = encoded(image, "JPEG");
    QVERIFY(!jpeg.isEmpty());
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
    const QByteArray png = encoded(image, "PNG");
    QVERIFY(!png.isEmpty());
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
    QTest::newRow("reduced/rgb32") << QImage::Format_RGB32 << QSize(3000, 3000) << QSize(150, 150);
    QTest::newRow("reduced/argb32")
        << QImage::Format_ARGB32 << QSize(4000, 3001) << QSize(164, 123);
    QTest::newRow("reduced/grey") << QImage::Format_Grayscale8 << QSize(9001, 3000)
                                  << QSize(164, 55);
    QTest::newRow("reduced/indexed")
        << QImage::Format_Indexed8 << QSize(5000, 7000) << QSize(101, 141);
    // Converted a piece of a row at a time, never the whole picture or a whole band.
    QTest::newRow("wide/indexed") << QImage::Format_Indexed8 << QSize(200000, 40) << QSize(164, 4);
    QTest::newRow("wide/grey") << QImage::Format_Grayscale8 << QSize(2100000, 4) << QSize(164, 4);
    QTest::newRow("wide/mono") << QImage::Format_Mono << QSize(100000, 64) << QSize(164, 8);
    QTest::newRow("tall/rgb32") << QImage::Format_RGB32 << QSize(80, 200000) << QSize(8, 164);
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
        image = image.convertToFormat(format, Qt::ThresholdDither);
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
    QVERIFY(SystemMemory::available() > 0);
    const qint64 budget = DecodeBudget::bytes();
    QVERIFY2(budget >= 256 * mib && budget <= 2048 * mib, qPrintable(QString::number(budget)));
}

void PreviewTest::wholeFileCounts_data()
{
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<qint64>("fileSize"); // a hole after the picture: no disk used
    QTest::addColumn<PreviewOutcome>("outcome");
    const QList<QByteArray> writable = QImageWriter::supportedImageFormats();
    // Qt's WebP reader takes the whole file into memory, whatever the picture's size.
    if (writable.contains("webp")) {
        QTest::newRow("webp/64 GiB")
            << QByteArray("webp") << (qint64(64) << 30) << PreviewOutcome::TooLarge;
        QTest::newRow("webp/beyond the budget")
            << QByteArray("webp") << 300 * mib << PreviewOutcome::TooLarge;
        QTest::newRow("webp/within the budget")
            << QByteArray("webp") << 100 * mib << PreviewOutcome::Shown;
    }
    // libtiff reads a compressed strip whole, up to the file's end.
    if (writable.contains("tiff")) {
        QTest::newRow("tiff/beyond the budget")
            << QByteArray("tiff") << 300 * mib << PreviewOutcome::TooLarge;
    }
    // These read as they decode and never reach the hole.
    QTest::newRow("png/64 GiB") << QByteArray("png") << (qint64(64) << 30) << PreviewOutcome::Shown;
    QTest::newRow("bmp/64 GiB") << QByteArray("bmp") << (qint64(64) << 30) << PreviewOutcome::Shown;
}

void PreviewTest::wholeFileCounts()
{
    QFETCH(QByteArray, format);
    QFETCH(qint64, fileSize);
    QFETCH(PreviewOutcome, outcome);
    QImage image(10, 10, QImage::Format_RGB32);
    image.fill(Qt::red);
    QVERIFY(image.save(path("picture"), format.constData()));
    QFile file(path("picture"));
    QVERIFY(file.resize(fileSize));
    // In little memory, so that a reader taking the whole file fails at once, not the machine.
    QCOMPARE(outcomeWithHeadroom(512 * mib, path("picture"), m_area, 256 * mib), int(outcome));
}

void PreviewTest::failedAllocationIsTooLarge()
{
    if (!QImageWriter::supportedImageFormats().contains("webp"))
        QSKIP("no WebP writer");
    QImage image(10, 10, QImage::Format_RGB32);
    image.fill(Qt::red);
    QVERIFY(image.save(path("tail.webp"), "webp"));
    QFile file(path("tail.webp"));
    QVERIFY(file.resize(qint64(1) << 30));
    // The budget lets the reader try to take the 1 GiB file; the process cannot give it.
    QCOMPARE(outcomeWithHeadroom(256 * mib, path("tail.webp"), m_area, qint64(8) << 30),
             int(PreviewOutcome::TooLarge));
}

void PreviewTest::widePictureShrinksInLittleMemory()
{
    // 20 MB as decoded, 640 MB at 32 bits a pixel: its shrinking must never convert all rows.
    const QSize pixels(400000, 400);
    QVERIFY(PictureFiles::writeMonoPng(path("wide.png"), pixels.width(), pixels.height()));
    const int result = withHeadroom(256 * mib, [&] {
        ImageView view;
        const PreviewOutcome outcome = LoadImage(path("wide.png"), view, m_area, 1.0, 256 * mib);
        const QImage &picture = view.picture();
        const bool halves =
            !picture.isNull() && qGray(picture.pixel(picture.width() / 4, 0)) < 40 &&
            qGray(picture.pixel(picture.width() * 3 / 4, picture.height() - 1)) > 215;
        return int(outcome) + (outcome == PreviewOutcome::Shown && !halves ? 16 : 0);
    });
    QCOMPARE(result, int(PreviewOutcome::Shown));
}

void PreviewTest::jpegLayout_data()
{
    QTest::addColumn<bool>("progressive");
    QTest::addColumn<bool>("grey");
    QTest::addColumn<int>("scans");
    QTest::addColumn<qint64>("frameBlocks");
    QTest::addColumn<qint64>("scanBlocks");
    // 64 × 64: 64 blocks of luma, 16 of each chroma at 4:2:0. libjpeg's own scripts: 6 scans for
    // grey, 10 for colour, some over one component.
    QTest::newRow("baseline colour") << false << false << 1 << qint64(96) << qint64(96);
    QTest::newRow("progressive grey") << true << true << 6 << qint64(64) << qint64(6 * 64);
    QTest::newRow("progressive colour") << true << false << 10 << qint64(96) << qint64(512);
}

void PreviewTest::jpegLayout()
{
    QFETCH(bool, progressive);
    QFETCH(bool, grey);
    QFETCH(int, scans);
    QFETCH(qint64, frameBlocks);
    QFETCH(qint64, scanBlocks);
    QByteArray jpeg = jpegPicture(progressive, grey);
    QBuffer buffer(&jpeg);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    const JpegLayout layout = readJpegLayout(buffer);
    QVERIFY(layout.framed);
    QVERIFY(!layout.overlong);
    QCOMPARE(layout.progressive, progressive);
    QCOMPARE(layout.multiScan, progressive);
    QCOMPARE(layout.scans, scans);
    QCOMPARE(layout.frameBlocks, frameBlocks);
    QCOMPARE(layout.coefficientBytes, frameBlocks * 128);
    QCOMPARE(layout.scanBlocks, scanBlocks);
}

void PreviewTest::jpegFillBytesCount_data()
{
    QTest::addColumn<bool>("inScan");     // in the scan's data, else before the first segment
    QTest::addColumn<QByteArray>("unit"); // repeated to 3 MiB
    for (const bool inScan : {false, true}) {
        const char *place = inScan ? "in the scan/" : "before the segments/";
        QTest::newRow(qPrintable(place + QString("fill bytes"))) << inScan << QByteArray("\xff");
        QTest::newRow(qPrintable(place + QString("restart markers")))
            << inScan << QByteArray("\xff\xd0");
        QTest::newRow(qPrintable(place + QString("reserved markers")))
            << inScan << QByteArray("\xff\x01");
    }
}

void PreviewTest::jpegFillBytesCount()
{
    // Bytes a decoder reads through one by one count like any other junk: a small picture
    // padded with megabytes of them is not read to its end.
    QFETCH(bool, inScan);
    QFETCH(QByteArray, unit);
    const QByteArray picture = jpegPicture(false, true);
    QVERIFY(picture.endsWith("\xff\xd9"));
    const QByteArray padding = unit.repeated(3 * 1024 * 1024 / unit.size());
    QByteArray jpeg = inScan ? picture.chopped(2) + padding + "\xff\xd9"
                             : picture.left(2) + padding + picture.mid(2);
    QBuffer buffer(&jpeg);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    QVERIFY(readJpegLayout(buffer).overlong);
    QVERIFY2(buffer.pos() < 2 * 1024 * 1024, qPrintable(QString::number(buffer.pos())));
}

void PreviewTest::jpegCoefficients_data()
{
    QTest::addColumn<bool>("progressive");
    QTest::addColumn<bool>("grey");
    QTest::addColumn<QSize>("frame"); // as the header tells it
    QTest::addColumn<int>("repeats"); // more copies of the last scan
    QTest::addColumn<qint64>("budget");
    QTest::addColumn<PreviewOutcome>("outcome");
    // libjpeg keeps 128 bytes for each 8 × 8 block of a progressive picture: 32 MiB here.
    QTest::newRow("progressive grey/coefficients beyond the budget")
        << true << true << QSize(4096, 4096) << 0 << 16 * mib << PreviewOutcome::TooLarge;
    // 4:2:0, 26 MiB.
    QTest::newRow("progressive colour/coefficients beyond the budget")
        << true << false << QSize(3000, 3000) << 0 << 16 * mib << PreviewOutcome::TooLarge;
    QTest::newRow("progressive grey/coefficients within the budget")
        << true << true << QSize(1024, 1024) << 0 << 16 * mib << PreviewOutcome::Shown;
    // One scan, decoded at an eighth of the size a row of blocks at a time.
    QTest::newRow("baseline grey/no coefficients kept")
        << false << true << QSize(4096, 4096) << 0 << 16 * mib << PreviewOutcome::Shown;
    // Each scan is decoded over the whole picture.
    QTest::newRow("progressive grey/as written")
        << true << true << QSize(4096, 4096) << 0 << 64 * mib << PreviewOutcome::Shown;
    QTest::newRow("progressive grey/last scan repeated 100 times")
        << true << true << QSize(4096, 4096) << 100 << 64 * mib << PreviewOutcome::TooLarge;
}

void PreviewTest::jpegCoefficients()
{
    QFETCH(bool, progressive);
    QFETCH(bool, grey);
    QFETCH(QSize, frame);
    QFETCH(int, repeats);
    QFETCH(qint64, budget);
    QFETCH(PreviewOutcome, outcome);
    QByteArray jpeg = withFrameSize(jpegPicture(progressive, grey), frame);
    QVERIFY(jpeg.endsWith("\xff\xd9"));
    const qsizetype lastScan = jpeg.lastIndexOf("\xff\xda");
    const QByteArray scan = jpeg.mid(lastScan, jpeg.size() - 2 - lastScan);
    jpeg.insert(jpeg.size() - 2, scan.repeated(repeats));
    QVERIFY(TestFiles::write(path("picture.jpg"), jpeg));
    ImageView view;
    QCOMPARE(LoadImage(path("picture.jpg"), view, m_area, 1.0, budget), outcome);
    QCOMPARE(view.isHidden(), outcome != PreviewOutcome::Shown);
    QCOMPARE(QImageReader::allocationLimit(), m_qtLimit);
}

void PreviewTest::jpegReadToItsEnd_data()
{
    QTest::addColumn<bool>("ended");      // with its end marker
    QTest::addColumn<int>("segments");    // of 64 KiB of metadata, which libjpeg keeps
    QTest::addColumn<qint64>("fileSize"); // a hole after the picture
    QTest::addColumn<PreviewOutcome>("outcome");
    // libjpeg reads on to the end marker, through any length of anything.
    QTest::newRow("no end marker, a 1 GiB hole")
        << false << 0 << (qint64(1) << 30) << PreviewOutcome::TooLarge;
    QTest::newRow("end marker, a 1 GiB hole")
        << true << 0 << (qint64(1) << 30) << PreviewOutcome::Shown;
    QTest::newRow("600 metadata segments") << true << 600 << qint64(0) << PreviewOutcome::TooLarge;
    QTest::newRow("3 metadata segments") << true << 3 << qint64(0) << PreviewOutcome::Shown;
}

void PreviewTest::jpegReadToItsEnd()
{
    QFETCH(bool, ended);
    QFETCH(int, segments);
    QFETCH(qint64, fileSize);
    QFETCH(PreviewOutcome, outcome);
    QByteArray jpeg = jpegPicture(false, false);
    QVERIFY(jpeg.endsWith("\xff\xd9"));
    if (!ended)
        jpeg.chop(2);
    QByteArray segment("\xff\xe1\xff\xff"
                       "Exif\0\0",
                       10);
    segment.append(65533 - 6, '\0');
    jpeg.insert(2, segment.repeated(segments));
    QVERIFY(TestFiles::write(path("picture.jpg"), jpeg));
    if (fileSize > 0) {
        QFile file(path("picture.jpg"));
        QVERIFY(file.resize(fileSize));
    }
    ImageView view;
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(LoadImage(path("picture.jpg"), view, m_area, 1.0, 256 * mib), outcome);
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
}

void PreviewTest::headerSizesSaturate()
{
    if (!QImageReader::supportedImageFormats().contains("tiff"))
        QSKIP("no TIFF reader");
    // Its bytes at 32 bits a pixel are just beyond 2^63, at 64 bits just beyond 2^64 (wrapped,
    // within the budget).
    QVERIFY(TestFiles::write(path("huge.tif"), tiffHeader(2147443515, 1073761891)));
    ImageView view;
    QCOMPARE(LoadImage(path("huge.tif"), view, m_area, 1.0, qint64(2) << 30),
             PreviewOutcome::TooLarge);
}

QTEST_MAIN(PreviewTest)
#include "tst_preview.moc"
