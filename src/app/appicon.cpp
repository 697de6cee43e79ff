#include "appicon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

QPixmap drawIcon(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);

    // Background tile.
    QLinearGradient tile(0, 0, 64, 64);
    tile.setColorAt(0, QColor(0x2f, 0x6f, 0xd6));
    tile.setColorAt(1, QColor(0x1b, 0x3f, 0x8f));
    p.setPen(Qt::NoPen);
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);

    // Two cards behind, one in front.
    p.setBrush(QColor(255, 255, 255, 110));
    p.drawRoundedRect(QRectF(18, 9, 34, 28), 3, 3);
    p.setBrush(QColor(255, 255, 255, 170));
    p.drawRoundedRect(QRectF(14, 13, 34, 28), 3, 3);
    p.setBrush(Qt::white);
    const QRectF front(10, 17, 34, 28);
    p.drawRoundedRect(front, 3, 3);

    // A small landscape on the front card.
    p.setBrush(QColor(0xff, 0xb3, 0x2e));
    p.drawEllipse(QPointF(35, 24), 3.2, 3.2);
    QPainterPath hills;
    hills.moveTo(13, 42);
    hills.lineTo(22, 29);
    hills.lineTo(29, 37);
    hills.lineTo(33, 32);
    hills.lineTo(41, 42);
    hills.closeSubpath();
    p.setBrush(QColor(0x3c, 0xa5, 0x5c));
    p.drawPath(hills);

    // The running number.
    p.setBrush(QColor(0xf2, 0x6b, 0x3a));
    p.drawEllipse(QRectF(34, 34, 26, 26));
    QFont font;
    font.setBold(true);
    font.setPixelSize(13);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(34, 34, 26, 26), Qt::AlignCenter, QStringLiteral("07"));
    return pixmap;
}

} // namespace

QIcon programIcon()
{
    static const QIcon icon = [] {
        QIcon made;
        for (int size : {16, 24, 32, 48, 64, 128, 256})
            made.addPixmap(drawIcon(size));
        return made;
    }();
    return icon;
}
