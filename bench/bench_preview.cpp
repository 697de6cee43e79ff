// The preview of large pictures beside a full-size decode of the same file (Qt's allocation limit
// lifted): time and peak memory. Runs itself as child processes so each peak is measured alone.
#include "allocpeak.h"
#include "benchcommon.h"
#include "imagepreview.h"
#include "picturefiles.h"

#include <QApplication>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>

namespace {

const QSizeF previewArea(2460, 2115);

/// The process's peak resident set (VmHWM): unlike getrusage's, it starts afresh at exec, not
/// at the parent's peak.
long long residentPeakKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

int child(int argc, char *argv[], const QString &mode, const QString &file)
{
    QApplication app(argc, argv);
    const size_t before = AllocPeak::current();
    AllocPeak::reset();
    bool ok = false;
    const double ms = Bench::timeMs([&] {
        if (mode == QLatin1String("preview")) {
            ImageView view;
            ok = LoadImage(file, view, previewArea) == PreviewOutcome::Shown;
        } else {
            QImageReader::setAllocationLimit(0);
            QImageReader reader(file);
            reader.setAutoTransform(true);
            QImage image = reader.read();
            ok = !image.isNull();
            // What a preview made of a full decode and Qt's own scaling costs.
            if (mode == QLatin1String("full+scaled"))
                image = image.scaled((previewArea / 15).toSize(), Qt::KeepAspectRatio,
                                     Qt::SmoothTransformation);
        }
    });
    std::printf("%d %.3f %zu %lld\n", ok ? 1 : 0, ms, (AllocPeak::peak() - before) / 1024,
                residentPeakKiB());
    return 0;
}

struct Run
{
    bool ok;
    double ms;
    double peakMiB;
    double residentMiB; ///< the child's whole peak resident set, Qt's start-up included
};

Run measure(const QString &mode, const QString &file)
{
    QProcess process;
    process.start(QCoreApplication::applicationFilePath(), {mode, file});
    process.waitForFinished(-1);
    const QList<QByteArray> parts = process.readAllStandardOutput().trimmed().split(' ');
    if (parts.size() != 4)
        qFatal("the child failed");
    return {parts[0] == "1", parts[1].toDouble(), parts[2].toDouble() / 1024.0,
            parts[3].toDouble() / 1024.0};
}

/// Previews `file`, decodes it whole, and decodes it whole and scales it with Qt, `rounds` times
/// each; prints the medians and the ratios of the preview to the others.
void compare(const char *what, const QString &file, int rounds)
{
    const QStringList modes{QStringLiteral("preview"), QStringLiteral("full"),
                            QStringLiteral("full+scaled")};
    std::vector<std::vector<double>> ms(3), heap(3), resident(3);
    for (int round = 0; round < rounds; ++round) {
        for (int m = 0; m < 3; ++m) {
            const Run run = measure(modes[m], file);
            if (!run.ok)
                qFatal("a decode of %s failed", what);
            ms[m].push_back(run.ms);
            heap[m].push_back(run.peakMiB);
            resident[m].push_back(run.residentMiB);
        }
    }
    std::printf("%s, median of %d rounds\n", what, rounds);
    for (int m = 1; m < 3; ++m) {
        const QByteArray against = modes[m].toLatin1();
        const auto memoryRow = [&](const char *label, const std::vector<double> &ours,
                                   const std::vector<double> &theirs) {
            std::printf("%-44s %10.1f MiB  %-11s %8.1f MiB  ratio %.2f\n", label,
                        Bench::median(ours), against.constData(), Bench::median(theirs),
                        Bench::median(ours) / Bench::median(theirs));
        };
        std::printf("%-44s %10.1f ms   %-11s %8.1f ms   ratio %.2f\n", "preview time",
                    Bench::median(ms[0]), against.constData(), Bench::median(ms[m]),
                    Bench::median(ms[0]) / Bench::median(ms[m]));
        memoryRow("preview peak heap", heap[0], heap[m]);
        memoryRow("preview peak resident set", resident[0], resident[m]);
    }
    std::fflush(stdout);
}

void writePhoto(const QString &path, int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, width, height);
    sky.setColorAt(0, QColor(0x7f, 0xb2, 0xff));
    sky.setColorAt(1, QColor(0xff, 0xe0, 0xa0));
    painter.fillRect(image.rect(), sky);
    QRandomGenerator random(7);
    for (int i = 0; i < 4000; ++i) {
        painter.fillRect(random.bounded(width), random.bounded(height), random.bounded(200) + 1,
                         random.bounded(200) + 1, QColor::fromRgb(random.generate()));
    }
    painter.end();
    if (!image.save(path, "JPEG", 90))
        qFatal("cannot write the photo");
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 3)
        return child(argc, argv, QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]));

    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString photo = dir.filePath(QStringLiteral("photo.jpg"));
    writePhoto(photo, 6000, 4000);
    compare("6000 x 4000 JPEG", photo, 5);

    // Beyond Qt's default allocation limit: decoded whole within the budget and shrunk.
    const QRgb left = qRgb(200, 40, 40), right = qRgb(40, 40, 200);
    const QString bmp = dir.filePath(QStringLiteral("big.bmp"));
    if (!PictureFiles::writeBmp(bmp, 6000, 6000, left, right))
        qFatal("cannot write the BMP");
    compare("6000 x 6000 BMP", bmp, 5);
    // Colour PNG is reduced while decoding; grey PNG is decoded whole and shrunk.
    const QString colour = dir.filePath(QStringLiteral("colour.png"));
    if (!PictureFiles::writePng(colour, 10000, 10000, false, left, right))
        qFatal("cannot write the colour PNG");
    compare("10000 x 10000 colour PNG", colour, 3);
    QFile::remove(colour);
    const QString grey = dir.filePath(QStringLiteral("grey.png"));
    if (!PictureFiles::writePng(grey, 10000, 10000, true, left, right))
        qFatal("cannot write the grey PNG");
    compare("10000 x 10000 grey PNG", grey, 3);

    // A photo far beyond the allocation limit at full size still previews.
    const QString huge = dir.filePath(QStringLiteral("huge.jpg"));
    {
        QImage image(20000, 20000, QImage::Format_Grayscale8);
        image.fill(128);
        if (!image.save(huge, "JPEG", 80))
            qFatal("cannot write the huge photo");
    }
    const Run hugePreview = measure(QStringLiteral("preview"), huge);
    std::printf("20000 x 20000 JPEG: preview %s in %.1f ms (peak heap %.1f MiB)\n",
                hugePreview.ok ? "shown" : "FAILED", hugePreview.ms, hugePreview.peakMiB);
    return hugePreview.ok ? 0 : 1;
}
