#pragma once

#include "imageview.h"

#include <QImage>
#include <QSizeF>
#include <QString>

#include <optional>

/// How a preview ended.
enum class PreviewOutcome
{
    Shown,
    NotAPicture, ///< the file's content is no picture in a format the loader knows
    Unreadable,  ///< the file cannot be opened or is no regular file, or cannot be read
    TooLarge,    ///< a picture that cannot be decoded within the memory budget (shown like any
                 ///< failure other than NotAPicture: an empty area, no message)
};

/// The place and size of a picture in the preview area, in twips.
struct PreviewPlacement
{
    bool stretch = false;
    float left = 0, width = 0, height = 0;
};

/// Fits a picture of natural size `natural` into an area of `scaleWidth` × `scaleHeight`:
/// first to the width when too wide, then to the height when still too high; centred from the
/// fixed left edge 3000. Operands are 32-bit floats, computed in double, rounded on assignment.
PreviewPlacement fitPicture(float naturalWidth, float naturalHeight, float scaleWidth,
                            float scaleHeight);

/// Loads the picture at `path` into `view` and places it in an area of the given inner size
/// (twips). The picture is decoded at the size it is shown where the format allows it, else at
/// full size within `decodeBudget` bytes (DecodeBudget::bytes() when not given) and shrunk;
/// upright as its orientation tag says. What else a decoder holds counts too: the file, for a
/// reader that takes it whole, and a JPEG's coefficients. A failed allocation is TooLarge. The
/// view is hidden first and shown only on success.
PreviewOutcome LoadImage(const QString &path, ImageView &view, QSizeF areaTwips,
                         qreal devicePixelRatio = 1.0,
                         std::optional<qint64> decodeBudget = std::nullopt);

/// `image` scaled smoothly to `target`; a large picture, or a 1-bit one reduced to less than half
/// its size, is first reduced by whole factors to box averages, converted to 32 bits a piece of a
/// row at a time, so that the memory taken beside the picture stays small however wide or deep
/// it is and a palette keeps its colours.
QImage shrinkPicture(const QImage &image, QSize target);
