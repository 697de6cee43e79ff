#include "programicon.h"

#include <QFont>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>
#include <QXmlStreamWriter>

namespace ProgramIcon {

namespace {

QPainterPath roundedRect(const QRectF &rect, qreal radius)
{
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

QPainterPath ellipse(const QRectF &rect)
{
    QPainterPath path;
    path.addEllipse(rect);
    return path;
}

/// The text centred in `box` as drawText(AlignCenter) places it: by advance and line height.
QPainterPath centredText(const QRectF &box, const QFont &font, const QString &text)
{
    const QFontMetricsF metrics(font);
    const QPointF baseline(box.center().x() - metrics.horizontalAdvance(text) / 2,
                           box.center().y() - metrics.height() / 2 + metrics.ascent());
    QPainterPath path;
    path.addText(baseline, font, text);
    return path;
}

/// An SVG number: at most three decimals, no trailing zeros.
QString number(qreal value)
{
    QString text = QString::number(value, 'f', 3);
    while (text.endsWith(QLatin1Char('0')))
        text.chop(1);
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text == QLatin1String("-0") ? QStringLiteral("0") : text;
}

QString point(qreal x, qreal y)
{
    return number(x) + QLatin1Char(' ') + number(y);
}

QString pathData(const QPainterPath &path)
{
    QStringList parts;
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPainterPath::Element e = path.elementAt(i);
        switch (e.type) {
        case QPainterPath::MoveToElement:
            parts << QLatin1Char('M') + point(e.x, e.y);
            break;
        case QPainterPath::LineToElement:
            parts << QLatin1Char('L') + point(e.x, e.y);
            break;
        case QPainterPath::CurveToElement: {
            // A cubic curve is its first control point and two data elements after it.
            const QPainterPath::Element c2 = path.elementAt(i + 1);
            const QPainterPath::Element end = path.elementAt(i + 2);
            parts << QLatin1Char('C') + point(e.x, e.y) + QLatin1Char(' ') + point(c2.x, c2.y) +
                         QLatin1Char(' ') + point(end.x, end.y);
            i += 2;
            break;
        }
        case QPainterPath::CurveToDataElement:
            break;
        }
    }
    return parts.join(QLatin1Char(' '));
}

QString colourName(const QColor &colour)
{
    return colour.name(QColor::HexRgb);
}

} // namespace

QList<Shape> shapes()
{
    QList<Shape> design;

    // Background tile.
    QLinearGradient tile(0, 0, 64, 64);
    tile.setColorAt(0, QColor(0x2f, 0x6f, 0xd6));
    tile.setColorAt(1, QColor(0x1b, 0x3f, 0x8f));
    design.append({roundedRect(QRectF(2, 2, 60, 60), 12), QBrush(tile)});

    // Two cards behind, one in front.
    design.append({roundedRect(QRectF(18, 9, 34, 28), 3), QColor(255, 255, 255, 110)});
    design.append({roundedRect(QRectF(14, 13, 34, 28), 3), QColor(255, 255, 255, 170)});
    design.append({roundedRect(QRectF(10, 17, 34, 28), 3), QColor(Qt::white)});

    // A small landscape on the front card.
    design.append({ellipse(QRectF(35 - 3.2, 24 - 3.2, 6.4, 6.4)), QColor(0xff, 0xb3, 0x2e)});
    QPainterPath hills;
    hills.moveTo(13, 42);
    hills.lineTo(22, 29);
    hills.lineTo(29, 37);
    hills.lineTo(33, 32);
    hills.lineTo(41, 42);
    hills.closeSubpath();
    design.append({hills, QColor(0x3c, 0xa5, 0x5c)});

    // The running number.
    const QRectF disc(34, 34, 26, 26);
    design.append({ellipse(disc), QColor(0xf2, 0x6b, 0x3a)});
    QFont font;
    font.setBold(true);
    font.setPixelSize(13);
    design.append({centredText(disc, font, QStringLiteral("07")), QColor(Qt::white)});
    return design;
}

QImage image(int size)
{
    QImage picture(size, size, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(qreal(size) / gridSize, qreal(size) / gridSize);
    p.setPen(Qt::NoPen);
    for (const Shape &shape : shapes())
        p.fillPath(shape.outline, shape.fill);
    return picture;
}

QIcon icon()
{
    static const QIcon made = [] {
        QIcon sizes;
        for (int size : {16, 24, 32, 48, 64, 128, 256})
            sizes.addPixmap(QPixmap::fromImage(image(size)));
        return sizes;
    }();
    return made;
}

QByteArray svg()
{
    QByteArray document;
    QXmlStreamWriter xml(&document);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("svg"));
    xml.writeDefaultNamespace(QStringLiteral("http://www.w3.org/2000/svg"));
    const QString side = QString::number(gridSize);
    xml.writeAttribute(QStringLiteral("width"), side);
    xml.writeAttribute(QStringLiteral("height"), side);
    xml.writeAttribute(QStringLiteral("viewBox"),
                       QStringLiteral("0 0 ") + side + QLatin1Char(' ') + side);

    const QList<Shape> design = shapes();
    int gradients = 0;
    for (const Shape &shape : design) {
        QString fill;
        qreal opacity = 1;
        if (const QGradient *gradient = shape.fill.gradient();
            gradient && gradient->type() == QGradient::LinearGradient) {
            const auto *linear = static_cast<const QLinearGradient *>(gradient);
            fill = QStringLiteral("gradient%1").arg(gradients++);
            xml.writeStartElement(QStringLiteral("linearGradient"));
            xml.writeAttribute(QStringLiteral("id"), fill);
            xml.writeAttribute(QStringLiteral("gradientUnits"), QStringLiteral("userSpaceOnUse"));
            xml.writeAttribute(QStringLiteral("x1"), number(linear->start().x()));
            xml.writeAttribute(QStringLiteral("y1"), number(linear->start().y()));
            xml.writeAttribute(QStringLiteral("x2"), number(linear->finalStop().x()));
            xml.writeAttribute(QStringLiteral("y2"), number(linear->finalStop().y()));
            for (const QGradientStop &stop : linear->stops()) {
                xml.writeEmptyElement(QStringLiteral("stop"));
                xml.writeAttribute(QStringLiteral("offset"), number(stop.first));
                xml.writeAttribute(QStringLiteral("stop-color"), colourName(stop.second));
                if (stop.second.alpha() != 255)
                    xml.writeAttribute(QStringLiteral("stop-opacity"),
                                       number(stop.second.alphaF()));
            }
            xml.writeEndElement();
            fill = QStringLiteral("url(#") + fill + QLatin1Char(')');
        } else {
            fill = colourName(shape.fill.color());
            opacity = shape.fill.color().alphaF();
        }
        xml.writeEmptyElement(QStringLiteral("path"));
        xml.writeAttribute(QStringLiteral("d"), pathData(shape.outline));
        xml.writeAttribute(QStringLiteral("fill"), fill);
        if (opacity != 1)
            xml.writeAttribute(QStringLiteral("fill-opacity"), number(opacity));
        if (shape.outline.fillRule() == Qt::OddEvenFill)
            xml.writeAttribute(QStringLiteral("fill-rule"), QStringLiteral("evenodd"));
    }
    xml.writeEndElement();
    xml.writeEndDocument();
    return document;
}

} // namespace ProgramIcon
