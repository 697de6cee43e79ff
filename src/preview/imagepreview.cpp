#include "imagepreview.h"

#include "decodebudget.h"
#include "regularfile.h"

#include <QFile>
#include <QImageReader>
#include <QTransform>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

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

/// Qt's allocation limit is one for the whole process: a decode sets its own and gives the old
/// one back (everything here runs on the one user-interface thread).
class AllocationLimit
{
public:
    explicit AllocationLimit(qint64 bytes) : m_saved(QImageReader::allocationLimit())
    {
        // In whole MiB; 0 would lift the limit altogether.
        QImageReader::setAllocationLimit(
            int(std::clamp<qint64>((bytes + mib - 1) / mib, 1, std::numeric_limits<int>::max())));
    }
    ~AllocationLimit() { QImageReader::setAllocationLimit(m_saved); }
    Q_DISABLE_COPY_MOVE(AllocationLimit)

private:
    int m_saved;
};

/// Bytes of a picture decoded as Qt allocates it, rows padded to 32 bits.
qint64 pictureBytes(QSize size, int bitsPerPixel)
{
    return (qint64(size.width()) * bitsPerPixel + 31) / 32 * 4 * size.height();
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

} // namespace

QImage shrinkPicture(const QImage &image, QSize target)
{
    if (image.isNull() || target.isEmpty() || image.size() == target)
        return image;
    constexpr qint64 bandBytes = 16 * mib;
    const int factor = std::min(image.width() / target.width(), image.height() / target.height());
    // Smooth scaling first converts the whole picture to 32 (or 64) bits per pixel.
    if (factor < 2 || qint64(image.width()) * image.height() * 4 <= bandBytes)
        return image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);

    // Reduced by `factor` in bands of whole output rows, so no band edge splits an output pixel;
    // the last band takes the rows left over.
    const int width = image.width() / factor;
    const int height = image.height() / factor;
    const int bandRows =
        int(std::clamp<qint64>(bandBytes / (qint64(image.width()) * 4 * factor), 1, height));
    QImage reduced;
    for (int out = 0; out < height; out += bandRows) {
        const int rows = std::min(bandRows, height - out);
        const int sourceRows = out + rows == height ? image.height() - out * factor : rows * factor;
        QImage band;
        if (image.colorCount() > 0) {
            // Scaled on their own, indexed bands would come back with colour tables of their own.
            band =
                image.copy(0, out * factor, image.width(), sourceRows)
                    .convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                             : QImage::Format_RGB32);
        } else {
            // The rows themselves, not a copy.
            band = QImage(image.constScanLine(out * factor), image.width(), sourceRows,
                          image.bytesPerLine(), image.format());
        }
        band = band.scaled(width, rows, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        if (band.isNull())
            return {};
        if (reduced.isNull()) {
            reduced = QImage(width, height, band.format());
            if (reduced.isNull())
                return {};
        }
        for (int y = 0; y < rows; ++y)
            std::memcpy(reduced.scanLine(out + y), band.constScanLine(y),
                        size_t(band.bytesPerLine()));
    }
    return reduced.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

PreviewOutcome LoadImage(const QString &path, ImageView &view, QSizeF areaTwips,
                         qreal devicePixelRatio, std::optional<qint64> decodeBudget)
{
    view.setVisible(false);
    view.setStretch(false);
    view.clearPicture();

    // Never blocks on a pipe or device, and takes the exact bytes of the name.
    QFile file;
    if (!openRegularFile(path, file))
        return PreviewOutcome::Unreadable;
    // Opened by descriptor, the file has no name: the format is known from the content alone.
    const Header header = readHeader(file);
    if (!header.canRead)
        return PreviewOutcome::NotAPicture;
    const bool turned = header.transformation.testFlag(QImageIOHandler::TransformationRotate90);

    if (header.size.isValid() && !header.size.isEmpty() && header.decodesReduced) {
        const QSize uprightSize = turned ? header.size.transposed() : header.size;
        const PreviewPlacement placed = place(uprightSize, areaTwips);
        const QSize shown = shownSize(placed, devicePixelRatio);
        if (shown.width() < uprightSize.width() || shown.height() < uprightSize.height()) {
            // Room for a decode at an eighth of the size (JPEG's smallest) and the shown picture,
            // never for a full-size one: a format that reduces only after decoding it all fails
            // here and is decoded within the budget below instead.
            const qint64 room =
                pictureBytes(QSize((header.size.width() + 7) / 8, (header.size.height() + 7) / 8),
                             32) +
                pictureBytes(shown, 64) + mib;
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
    const qint64 budget = decodeBudget ? *decodeBudget : DecodeBudget::bytes();
    if (sized && pictureBytes(header.size, header.bitsPerPixel) > budget)
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
