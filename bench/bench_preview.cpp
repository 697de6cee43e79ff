// The preview of a large photo beside a full-size decode of the same file: time and peak memory.
// Runs itself as child processes so each peak is measured alone.
#include "allocpeak.h"
#include "benchcommon.h"
#include "imagepreview.h"

#include <QApplication>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>

namespace {

const QSizeF previewArea(2460, 2115);

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
            QImageReader reader(file);
            reader.setAutoTransform(true);
            ok = !reader.read().isNull();
        }
    });
    std::printf("%d %.3f %zu\n", ok ? 1 : 0, ms, (AllocPeak::peak() - before) / 1024);
    return 0;
}

struct Run
{
    bool ok;
    double ms;
    double peakMiB;
};

Run measure(const QString &mode, const QString &file)
{
    QProcess process;
    process.start(QCoreApplication::applicationFilePath(), {mode, file});
    process.waitForFinished(-1);
    const QList<QByteArray> parts = process.readAllStandardOutput().trimmed().split(' ');
    if (parts.size() != 3)
        qFatal("the child failed");
    return {parts[0] == "1", parts[1].toDouble(), parts[2].toDouble() / 1024.0};
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
    const int rounds = 5;
    std::vector<double> previewMs, fullMs, previewPeak, fullPeak;
    for (int round = 0; round < rounds; ++round) {
        const Run preview = measure(QStringLiteral("preview"), photo);
        const Run full = measure(QStringLiteral("full"), photo);
        if (!preview.ok || !full.ok)
            qFatal("a decode failed");
        previewMs.push_back(preview.ms);
        fullMs.push_back(full.ms);
        previewPeak.push_back(preview.peakMiB);
        fullPeak.push_back(full.peakMiB);
    }
    std::printf("6000 x 4000 JPEG, median of %d rounds\n", rounds);
    Bench::row("preview time", Bench::median(previewMs), Bench::median(fullMs), "full");
    std::printf("%-44s %10.1f MiB  full   %10.1f MiB  ratio %.2f\n", "preview peak memory",
                Bench::median(previewPeak), Bench::median(fullPeak),
                Bench::median(previewPeak) / Bench::median(fullPeak));

    // A photo far beyond the allocation limit at full size still previews.
    const QString huge = dir.filePath(QStringLiteral("huge.jpg"));
    {
        QImage image(20000, 20000, QImage::Format_Grayscale8);
        image.fill(128);
        if (!image.save(huge, "JPEG", 80))
            qFatal("cannot write the huge photo");
    }
    const Run hugePreview = measure(QStringLiteral("preview"), huge);
    const Run hugeFull = measure(QStringLiteral("full"), huge);
    std::printf("20000 x 20000 JPEG: preview %s in %.1f ms (peak %.1f MiB); full decode %s\n",
                hugePreview.ok ? "shown" : "FAILED", hugePreview.ms, hugePreview.peakMiB,
                hugeFull.ok ? "succeeded" : "refused by the allocation limit");
    return hugePreview.ok ? 0 : 1;
}
