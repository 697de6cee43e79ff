#include "imagepreview.h"

#include "decodebudget.h"
#include "jpeglayout.h"
#include "regularfile.h"
#include "saturating.h"

#include <QFile>
#include <QImageReader>
#include <QTransform>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

namespace {
constexpr float designedLeft = 3000.0f;
}

PreviewPlacement fitPicture(float naturalWidth, float naturalHeight, float scaleWidth,
                            float scaleHeight)
{
    PreviewPlacement p{false, 0, naturalWidth, naturalHeight};
    if (p.width > scaleWidth) {
        p.stretch = true;
        p.height = float(double(scaleWidth) / double(p.width) * double(p.height));
        p.width = scaleWidth;
    }
    if (p.height > scaleHeight) {
        p.stretch = true;
        p.width = float(double(scaleHeight) / double(p.height) * double(p.width));
        p.height = scaleHeight;
    }
    p.left = float((double(scaleWidth) - double(p.width)) / 2 + double(designedLeft));
    return p;
}

namespace {

constexpr qint64 mib = qint64(1) << 20;
using Saturating::product;
using Saturating::sum;

/// Qt's allocation limit is one for the whole process: a decode sets its own and gives the old
/// one back, also when an exception leaves (everything here runs on the one user-interface
/// thread).
class AllocationLimit
{
public:
    explicit AllocationLimit(qint64 bytes) : m_saved(QImageReader::allocationLimit())
    {
        // In whole MiB; 0 would lift the limit altogether.
        const qint64 mibs = bytes / mib + (bytes % mib != 0);
        QImageReader::setAllocationLimit(
            int(std::clamp<qint64>(mibs, 1, std::numeric_limits<int>::max())));
    }
    ~AllocationLimit() { QImageReader::setAllocationLimit(m_saved); }
    Q_DISABLE_COPY_MOVE(AllocationLimit)

private:
    int m_saved;
};

/// Bytes of a picture decoded as Qt allocates it, rows padded to 32 bits.
qint64 pictureBytes(QSize size, int bitsPerPixel)
{
    return product((qint64(size.width()) * bitsPerPixel + 31) / 32 * 4, size.height());
}

/// The format of the file's content as Qt's readers know it; empty when none reads it. Only the
/// first bytes are looked at.
QByteArray pictureFormat(QFile &file)
{
    file.seek(0);
    QImageReader reader(&file);
    return reader.canRead() ? reader.format() : QByteArray();
}

/// Whether Qt's reader for `format` reads the file a little at a time as it decodes. The others
/// hold all of it in memory at once (WebP, ICO, ICNS, SVG and other plugins' formats) or may
/// (TIFF: libtiff reads a compressed strip whole, up to ten times the strip's decoded size), so
/// that the file's size counts against the budget beside the picture.
bool readsAsItDecodes(const QByteArray &format)
{
    static const QList<QByteArray> streamed{"bmp", "gif", "jpeg", "pbm", "pgm",
                                            "png", "ppm", "tga",  "wbmp"};
    return streamed.contains(format.toLower());
}

/// A JPEG whose decoding would take more than the budget or far more time than its picture
/// needs: the coefficients libjpeg keeps whole for a progressive or multi-scan picture, scans
/// that repeat over the picture, or data that runs on where libjpeg would read it all.
bool jpegTooLarge(QFile &file, qint64 budget)
{
    file.seek(0);
    const JpegLayout layout = readJpegLayout(file);
    if (layout.overlong)
        return true;
    if (layout.multiScan && layout.coefficientBytes > budget)
        return true;
    // Encoders' progressive scripts come to about six passes over the picture; a small picture
    // may take more within a fixed amount of work.
    return layout.scanBlocks > std::max(16 * layout.frameBlocks, qint64(1) << 24);
}

/// What a format's header says; each decode then starts again from the file's beginning.
struct Header
{
    bool canRead = false;
    QSize size; ///< as stored, before the orientation tag is applied; invalid when not told
    int bitsPerPixel = 32;
    QImageIOHandler::Transformations transformation;
    bool decodesReduced = false;
};

Header readHeader(QFile &file)
{
    file.seek(0);
    QImageReader reader(&file);
    Header header;
    header.canRead = reader.canRead();
    if (!header.canRead)
        return header;
    header.size = reader.size();
    // A BMP stored top-down tells a negative height.
    if (header.size.width() > 0 && header.size.height() < 0)
        header.size.setHeight(-header.size.height());
    const QImage::Format format = reader.imageFormat();
    // A damaged header may tell any number.
    if (format > QImage::Format_Invalid && format < QImage::NImageFormats)
        header.bitsPerPixel = std::max(1, int(QImage::toPixelFormat(format).bitsPerPixel()));
    header.transformation = reader.transformation();
    header.decodesReduced = reader.supportsOption(QImageIOHandler::ScaledSize);
    return header;
}

/// A BMP header that Qt's reader refuses only for its size (more than 16384 × 16384 pixels;
/// Qt then tells no size): a picture too large for the loader, not a file of an unknown kind.
bool oversizedBmp(QFile &file)
{
    file.seek(0);
    const QByteArray head = file.peek(30);
    if (head.size() < 30 || !head.startsWith("BM"))
        return false;
    const quint32 infoSize = qFromLittleEndian<quint32>(head.constData() + 14);
    qint64 width = 0, height = 0;
    int at = 0;
    if (infoSize == 12) {
        width = qFromLittleEndian<qint16>(head.constData() + 18);
        height = qFromLittleEndian<qint16>(head.constData() + 20);
        at = 22;
    } else if (infoSize >= 40) {
        width = qFromLittleEndian<qint32>(head.constData() + 18);
        height = qFromLittleEndian<qint32>(head.constData() + 22);
        at = 26;
    } else {
        return false;
    }
    const quint16 planes = qFromLittleEndian<quint16>(head.constData() + at);
    const quint16 bits = qFromLittleEndian<quint16>(head.constData() + at + 2);
    const bool knownDepth =
        bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
    return planes == 1 && knownDepth && width > 0 &&
           width * std::abs(height) > qint64(16384) * 16384;
}

/// The orientation tag applied as QImageReader's automatic transformation does: mirror and
/// flip, then a quarter turn clockwise.
QImage upright(QImage image, QImageIOHandler::Transformations transformation)
{
    image =
        std::move(image).mirrored(transformation.testFlag(QImageIOHandler::TransformationMirror),
                                  transformation.testFlag(QImageIOHandler::TransformationFlip));
    if (transformation.testFlag(QImageIOHandler::TransformationRotate90))
        image = image.transformed(QTransform().rotate(90));
    return image;
}

/// The size in device pixels a picture is shown at.
QSize shownSize(const PreviewPlacement &placed, qreal devicePixelRatio)
{
    const float tw = ImageView::twipsPerPixel;
    return {std::max(1, int(std::lround(placed.width / tw * devicePixelRatio))),
            std::max(1, int(std::lround(placed.height / tw * devicePixelRatio)))};
}

PreviewPlacement place(QSize uprightPixels, QSizeF areaTwips)
{
    const float tw = ImageView::twipsPerPixel;
    return fitPicture(float(uprightPixels.width()) * tw, float(uprightPixels.height()) * tw,
                      float(areaTwips.width()), float(areaTwips.height()));
}

PreviewOutcome show(ImageView &view, QImage image, QSize uprightPixels,
                    const PreviewPlacement &placed, qreal devicePixelRatio)
{
    image.setDevicePixelRatio(devicePixelRatio);
    view.setPicture(image, QSizeF(uprightPixels) * ImageView::twipsPerPixel);
    view.setStretch(placed.stretch);
    view.setHeight(placed.height);
    view.setWidth(placed.width);
    view.setLeft(placed.left);
    view.setVisible(true);
    return PreviewOutcome::Shown;
}

/// Pixels of a large picture's row converted to 32 bits at a time while it is reduced.
constexpr int piecePixels = 1 << 18;

/// Adds a row of 32-bit pixels to sums of two channels a word. Eight at a time, all read before
/// any is written, the compiler makes vector instructions of it.
void addRow(const quint32 *line, int count, quint32 *blueRed, quint32 *greenAlpha)
{
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        quint32 pixels[8], br[8], ga[8];
        std::memcpy(pixels, line + i, sizeof pixels);
        std::memcpy(br, blueRed + i, sizeof br);
        std::memcpy(ga, greenAlpha + i, sizeof ga);
        for (int k = 0; k < 8; ++k) {
            br[k] += pixels[k] & 0x00ff00ffu;
            ga[k] += pixels[k] >> 8 & 0x00ff00ffu;
        }
        std::memcpy(blueRed + i, br, sizeof br);
        std::memcpy(greenAlpha + i, ga, sizeof ga);
    }
    for (; i < count; ++i) {
        blueRed[i] += line[i] & 0x00ff00ffu;
        greenAlpha[i] += line[i] >> 8 & 0x00ff00ffu;
    }
}

/// `image` reduced by whole factors: each pixel the mean of a `fx` × `fy` box of the picture's
/// (the last column and row take the rest), premultiplied. The picture is converted to 32 bits
/// a piece of a row at a time, however wide or deep it is.
QImage boxReduce(const QImage &image, int fx, int fy)
{
    const QImage::Format format =
        image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    const int width = image.width() / fx;
    const int height = image.height() / fy;
    QImage reduced(width, height, format);
    if (reduced.isNull())
        return {};
    // Pieces start every 2^18 pixels, on an aligned whole byte in every pixel format.
    const int pieceWidth = std::min(image.width(), piecePixels);
    const QList<QRgb> colours = image.colorTable();
    // Down each column of a piece first, two channels a word (blue and red, green and alpha),
    // 16 bits each: room for 257 rows of 255.
    std::vector<quint32> blueRed(static_cast<size_t>(pieceWidth));
    std::vector<quint32> greenAlpha(static_cast<size_t>(pieceWidth));
    std::vector<quint64> sums(size_t(width) * 4);
    for (int row = 0; row < height; ++row) {
        const int top = row * fy;
        const int bottom = row + 1 == height ? image.height() : top + fy;
        std::fill(sums.begin(), sums.end(), 0);
        for (int x = 0; x < image.width(); x += pieceWidth) {
            const int columns = std::min(pieceWidth, image.width() - x);
            for (int y = top; y < bottom;) {
                std::fill_n(blueRed.begin(), columns, 0);
                std::fill_n(greenAlpha.begin(), columns, 0);
                for (const int stop = std::min(bottom, y + 256); y < stop; ++y) {
                    // The picture's own pixels, not a copy.
                    QImage piece(image.constScanLine(y) + qsizetype(x) * image.depth() / 8, columns,
                                 1, image.bytesPerLine(), image.format());
                    if (!colours.isEmpty())
                        piece.setColorTable(colours);
                    const QImage converted = piece.convertToFormat(format);
                    if (converted.isNull())
                        return {};
                    addRow(reinterpret_cast<const quint32 *>(converted.constBits()), columns,
                           blueRed.data(), greenAlpha.data());
                }
                // Then across, into the reduced picture's columns.
                for (int i = 0; i < columns;) {
                    const int column = std::min((x + i) / fx, width - 1);
                    const int end =
                        column + 1 == width
                            ? columns
                            : int(std::min<qint64>(columns, qint64(column + 1) * fx - x));
                    quint64 blue = 0, red = 0, green = 0, alpha = 0;
                    for (; i < end; ++i) {
                        blue += blueRed[size_t(i)] & 0xffff;
                        red += blueRed[size_t(i)] >> 16;
                        green += greenAlpha[size_t(i)] & 0xffff;
                        alpha += greenAlpha[size_t(i)] >> 16;
                    }
                    quint64 *total = sums.data() + size_t(column) * 4;
                    total[0] += alpha;
                    total[1] += red;
                    total[2] += green;
                    total[3] += blue;
                }
            }
        }
        auto *out = reinterpret_cast<QRgb *>(reduced.scanLine(row));
        for (int column = 0; column < width; ++column) {
            const qint64 span = (column + 1 == width ? image.width() : qint64(column + 1) * fx) -
                                qint64(column) * fx;
            const quint64 count = quint64(span) * quint64(bottom - top);
            const quint64 *total = sums.data() + size_t(column) * 4;
            const auto mean = [&](int c) { return int((total[c] + count / 2) / count); };
            out[column] = qRgba(mean(1), mean(2), mean(3), mean(0));
        }
    }
    return reduced;
}

PreviewOutcome load(const QString &path, ImageView &view, QSizeF areaTwips, qreal devicePixelRatio,
                    std::optional<qint64> decodeBudget)
{
    // Never blocks on a pipe or device, and takes the exact bytes of the name.
    QFile file;
    if (!openRegularFile(path, file))
        return PreviewOutcome::Unreadable;
    // Opened by descriptor, the file has no name: the format is known from the content alone.
    const QByteArray format = pictureFormat(file);
    if (format.isEmpty())
        return PreviewOutcome::NotAPicture;
    const qint64 budget = decodeBudget ? *decodeBudget : DecodeBudget::bytes();
    // Told before any reader looks further: some read the whole file to tell the size.
    const qint64 held = readsAsItDecodes(format) ? 0 : file.size();
    if (held > budget)
        return PreviewOutcome::TooLarge;
    if (format == "jpeg" && jpegTooLarge(file, budget))
        return PreviewOutcome::TooLarge;
    const Header header = readHeader(file);
    if (!header.canRead)
        return PreviewOutcome::NotAPicture;
    const bool turned = header.transformation.testFlag(QImageIOHandler::TransformationRotate90);

    // Readers reduce a 1-bit picture with Qt's smooth scaling, which spoils it (shrinkPicture).
    if (header.size.isValid() && !header.size.isEmpty() && header.decodesReduced &&
        header.bitsPerPixel > 1) {
        const QSize uprightSize = turned ? header.size.transposed() : header.size;
        const PreviewPlacement placed = place(uprightSize, areaTwips);
        const QSize shown = shownSize(placed, devicePixelRatio);
        if (shown.width() < uprightSize.width() || shown.height() < uprightSize.height()) {
            // Room for a decode at an eighth of the size (JPEG's smallest) and the shown picture,
            // never for a full-size one: a format that reduces only after decoding it all fails
            // here and is decoded within the budget below instead.
            const qint64 room =
                sum(pictureBytes(
                        QSize((header.size.width() + 7) / 8, (header.size.height() + 7) / 8), 32),
                    pictureBytes(shown, 64) + mib);
            file.seek(0);
            QImageReader reader(&file);
            reader.setAutoTransform(true);
            reader.setScaledSize(turned ? shown.transposed() : shown);
            QImage image;
            bool read = false;
            {
                const AllocationLimit limit(room);
                read = reader.read(&image);
            }
            if (read)
                return show(view, image, uprightSize, placed, devicePixelRatio);
        }
    }

    // The whole picture, within the budget, then shrunk to the shown size and turned upright.
    const bool sized = header.size.isValid() && !header.size.isEmpty();
    if (!sized && oversizedBmp(file))
        return PreviewOutcome::TooLarge;
    if (sized && sum(pictureBytes(header.size, header.bitsPerPixel), held) > budget)
        return PreviewOutcome::TooLarge;
    // Qt counts every pixel as at least 32 bits; the budget has counted the real ones.
    const qint64 qtLimit =
        sized ? std::max(budget, pictureBytes(header.size, std::max(32, header.bitsPerPixel)))
              : budget;
    file.seek(0);
    QImageReader reader(&file);
    reader.setAutoTransform(false);
    QImage image;
    bool read = false;
    {
        const AllocationLimit limit(qtLimit);
        read = reader.read(&image);
    }
    if (!read) {
        if (reader.error() != QImageReader::InvalidDataError)
            return PreviewOutcome::Unreadable;
        // Refused, perhaps, for a wider pixel format than the header told.
        if (sized && pictureBytes(header.size, 64) > qtLimit)
            return PreviewOutcome::TooLarge;
        return PreviewOutcome::NotAPicture;
    }
    const QSize uprightSize = turned ? image.size().transposed() : image.size();
    if (uprightSize.isEmpty())
        return PreviewOutcome::NotAPicture;
    const PreviewPlacement placed = place(uprightSize, areaTwips);
    const QSize shown = shownSize(placed, devicePixelRatio);
    if (shown.width() < uprightSize.width() || shown.height() < uprightSize.height())
        image = shrinkPicture(image, turned ? shown.transposed() : shown);
    if (image.isNull())
        return PreviewOutcome::Unreadable;
    return show(view, upright(std::move(image), header.transformation), uprightSize, placed,
                devicePixelRatio);
}

} // namespace

QImage shrinkPicture(const QImage &image, QSize target)
{
    if (image.isNull() || target.isEmpty() || image.size() == target)
        return image;
    const int fx = std::max(1, image.width() / target.width());
    const int fy = std::max(1, image.height() / target.height());
    // Smooth scaling first converts the whole picture to 32 (or 64) bits per pixel: fine for a
    // small one, or one within twice the target each way. A 1-bit picture it reduces to less
    // than half its size comes out dithered to black and white, whatever its palette: box
    // averages keep its colours.
    constexpr qint64 smallBytes = 16 * mib;
    const bool small = qint64(image.width()) * image.height() * 8 <= smallBytes;
    if ((fx < 2 && fy < 2) || (small && image.depth() > 1))
        return image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const QImage reduced = boxReduce(image, fx, fy);
    if (reduced.isNull())
        return {};
    return reduced.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

PreviewOutcome LoadImage(const QString &path, ImageView &view, QSizeF areaTwips,
                         qreal devicePixelRatio, std::optional<qint64> decodeBudget)
{
    view.setVisible(false);
    view.setStretch(false);
    view.clearPicture();
    try {
        return load(path, view, areaTwips, devicePixelRatio, decodeBudget);
    } catch (const std::bad_alloc &) {
        // A reader that asks for more than the process can have (one taking a whole file) makes
        // the picture too large, not the program end.
        view.setVisible(false);
        view.clearPicture();
        return PreviewOutcome::TooLarge;
    }
}
