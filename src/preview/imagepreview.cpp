#include "imagepreview.h"

#include "regularfile.h"

#include <QFile>
#include <QImageReader>

#include <cmath>

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

bool beyondAllocationLimit(QSize size)
{
    const qint64 limit = qint64(QImageReader::allocationLimit()) << 20;
    return limit > 0 && qint64(size.width()) * size.height() * 4 > limit;
}

PreviewOutcome readFailure(const QImageReader &reader, QSize decodedSize)
{
    // A picture too large for the allocation limit counts as one that cannot be shown.
    if (reader.error() == QImageReader::InvalidDataError && !beyondAllocationLimit(decodedSize))
        return PreviewOutcome::NotAPicture;
    return PreviewOutcome::Unreadable;
}

} // namespace

PreviewOutcome LoadImage(const QString &path, ImageView &view, QSizeF areaTwips,
                         qreal devicePixelRatio)
{
    view.setVisible(false);
    view.setStretch(false);
    view.clearPicture();

    // Never blocks on a pipe or device, and takes the exact bytes of the name.
    QFile file;
    if (!openRegularFile(path, file))
        return PreviewOutcome::Unreadable;
    // Opened by descriptor, the file has no name: the format is known from the content alone.
    QImageReader reader(&file);
    reader.setAutoTransform(true);
    if (!reader.canRead())
        return PreviewOutcome::NotAPicture;

    const float tw = ImageView::twipsPerPixel;
    const QSize stored = reader.size();
    const bool turned = reader.transformation().testFlag(QImageIOHandler::TransformationRotate90);
    QImage image;
    QSize upright;
    if (stored.isValid()) {
        upright = turned ? stored.transposed() : stored;
    } else {
        // The format tells its size only by decoding.
        if (!reader.read(&image))
            return readFailure(reader, QSize());
        upright = image.size();
    }
    if (upright.isEmpty())
        return PreviewOutcome::NotAPicture;

    const PreviewPlacement placed =
        fitPicture(float(upright.width()) * tw, float(upright.height()) * tw,
                   float(areaTwips.width()), float(areaTwips.height()));

    if (image.isNull()) {
        // Decode no larger than shown: JPEG then decodes at a reduced scale.
        const QSize shown(std::max(1, int(std::lround(placed.width / tw * devicePixelRatio))),
                          std::max(1, int(std::lround(placed.height / tw * devicePixelRatio))));
        if (shown.width() < upright.width() || shown.height() < upright.height())
            reader.setScaledSize(turned ? shown.transposed() : shown);
        if (!reader.read(&image))
            return readFailure(reader,
                               reader.scaledSize().isValid() ? reader.scaledSize() : stored);
    }
    image.setDevicePixelRatio(devicePixelRatio);

    view.setPicture(image, QSizeF(upright) * tw);
    view.setStretch(placed.stretch);
    view.setHeight(placed.height);
    view.setWidth(placed.width);
    view.setLeft(placed.left);
    view.setVisible(true);
    return PreviewOutcome::Shown;
}
