#pragma once

#include <QBrush>
#include <QByteArray>
#include <QIcon>
#include <QImage>
#include <QList>
#include <QPainterPath>

/// The program's icon: a stack of photo cards with a running number. One design serves the
/// window icon, the installed PNGs and the scalable SVG, so they cannot drift apart.
namespace ProgramIcon {

/// The design is laid out on a square grid of this many units.
inline constexpr int gridSize = 64;

/// One filled outline of the design, in grid units.
struct Shape
{
    QPainterPath outline;
    QBrush fill; ///< a colour (with its opacity) or a linear gradient
};

/// The design, back to front. The running number is an outline of the default bold font.
QList<Shape> shapes();

/// The design drawn at size × size pixels on a transparent background.
QImage image(int size);

/// The window icon, drawn at the sizes desktops ask for.
QIcon icon();

/// The design as a standalone SVG document with a gridSize × gridSize view box.
QByteArray svg();

} // namespace ProgramIcon
