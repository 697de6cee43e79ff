#pragma once

#include <QWidget>

/// Layouts are given in twips; 15 twips are one device-independent pixel.
namespace Twips {

inline constexpr int perPixel = 15;

inline int toPixels(int twips)
{
    return (twips + perPixel / 2) / perPixel;
}

inline QSize size(int width, int height)
{
    return {toPixels(width), toPixels(height)};
}

/// Places a control at a position given in twips.
inline void place(QWidget *widget, int left, int top, int width, int height)
{
    widget->setGeometry(left / perPixel, top / perPixel, toPixels(width), toPixels(height));
}

} // namespace Twips
