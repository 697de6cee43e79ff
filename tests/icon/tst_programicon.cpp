#include "programicon.h"

#include <QPainter>
#include <QTest>
#include <QXmlStreamReader>

namespace {

/// Reads the path data the SVG writer makes (absolute M, L and C only) back into a path.
QPainterPath parsePathData(const QString &data, bool *ok)
{
    QPainterPath path;
    const QStringList tokens = data.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QList<qreal> numbers;
    QChar command;
    *ok = true;
    const auto flush = [&] {
        if (command == QLatin1Char('M') && numbers.size() == 2)
            path.moveTo(numbers[0], numbers[1]);
        else if (command == QLatin1Char('L') && numbers.size() == 2)
            path.lineTo(numbers[0], numbers[1]);
        else if (command == QLatin1Char('C') && numbers.size() == 6)
            path.cubicTo(numbers[0], numbers[1], numbers[2], numbers[3], numbers[4], numbers[5]);
        else if (!command.isNull())
            *ok = false;
        numbers.clear();
    };
    for (QString token : tokens) {
        if (token.front().isLetter()) {
            flush();
            command = token.front();
            token.remove(0, 1);
            if (token.isEmpty())
                continue;
        }
        bool number = false;
        numbers.append(token.toDouble(&number));
        *ok = *ok && number;
    }
    flush();
    return path;
}

struct SvgShape
{
    QPainterPath outline;
    QBrush fill;
};

/// The shapes of an SVG document as the writer makes them: gradients first, then paths.
QList<SvgShape> readSvg(const QByteArray &document, QString *viewBox, QString *error)
{
    QList<SvgShape> shapes;
    QHash<QString, QLinearGradient> gradients;
    QString gradientId;
    QXmlStreamReader xml(document);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QXmlStreamAttributes a = xml.attributes();
        const auto value = [&](const char *name) {
            return a.value(QLatin1String(name)).toString();
        };
        if (xml.name() == QLatin1String("svg")) {
            *viewBox = value("viewBox");
        } else if (xml.name() == QLatin1String("linearGradient")) {
            gradientId = value("id");
            gradients[gradientId] = QLinearGradient(value("x1").toDouble(), value("y1").toDouble(),
                                                    value("x2").toDouble(), value("y2").toDouble());
        } else if (xml.name() == QLatin1String("stop")) {
            QColor colour(value("stop-color"));
            if (a.hasAttribute(QLatin1String("stop-opacity")))
                colour.setAlphaF(value("stop-opacity").toDouble());
            gradients[gradientId].setColorAt(value("offset").toDouble(), colour);
        } else if (xml.name() == QLatin1String("path")) {
            bool ok = false;
            SvgShape shape{parsePathData(value("d"), &ok), {}};
            if (!ok)
                *error = QStringLiteral("unreadable path data: ") + value("d");
            shape.outline.setFillRule(
                value("fill-rule") == QLatin1String("evenodd") ? Qt::OddEvenFill : Qt::WindingFill);
            const QString fill = value("fill");
            if (fill.startsWith(QLatin1String("url(#"))) {
                shape.fill = QBrush(gradients.value(fill.mid(5).chopped(1)));
            } else {
                QColor colour(fill);
                if (a.hasAttribute(QLatin1String("fill-opacity")))
                    colour.setAlphaF(value("fill-opacity").toDouble());
                shape.fill = colour;
            }
            shapes.append(shape);
        }
    }
    if (xml.hasError())
        *error = xml.errorString();
    return shapes;
}

int largestChannelDifference(const QImage &a, const QImage &b)
{
    int largest = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            largest =
                std::max({largest, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                          std::abs(qBlue(p) - qBlue(q)), std::abs(qAlpha(p) - qAlpha(q))});
        }
    }
    return largest;
}

} // namespace

class ProgramIconTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void imageAtEverySize_data();
    void imageAtEverySize();
    void windowIconOffersTheInstalledSizes();
    void svgIsTheSameDesign();
    void svgDrawsLikeTheImage();
};

void ProgramIconTest::imageAtEverySize_data()
{
    QTest::addColumn<int>("size");
    for (int size : {16, 32, 48, 64, 128, 256})
        QTest::addRow("%dpx", size) << size;
}

void ProgramIconTest::imageAtEverySize()
{
    QFETCH(int, size);
    const QImage image = ProgramIcon::image(size);
    QCOMPARE(image.size(), QSize(size, size));
    QVERIFY(image.hasAlphaChannel());
    // Outside the rounded tile the icon is see-through; inside it is the opaque blue tile.
    QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(image.pixel(size - 1, 0)), 0);
    const QColor tile = image.pixelColor(size * 6 / 64, size / 2);
    QCOMPARE(tile.alpha(), 255);
    QVERIFY2(tile.blue() > tile.red() + 60, qPrintable(tile.name()));
    // The number's orange disc at the lower right.
    const QColor disc = image.pixelColor(size * 47 / 64, size * 57 / 64);
    QVERIFY2(disc.red() > 200 && disc.blue() < 120, qPrintable(disc.name()));
}

void ProgramIconTest::windowIconOffersTheInstalledSizes()
{
    const QList<QSize> sizes = ProgramIcon::icon().availableSizes();
    for (int size : {16, 32, 48, 64, 128, 256})
        QVERIFY2(sizes.contains(QSize(size, size)), qPrintable(QString::number(size)));
}

void ProgramIconTest::svgIsTheSameDesign()
{
    const QList<ProgramIcon::Shape> design = ProgramIcon::shapes();
    QString viewBox, error;
    const QList<SvgShape> read = readSvg(ProgramIcon::svg(), &viewBox, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(viewBox, QStringLiteral("0 0 64 64"));
    QCOMPARE(read.size(), design.size());
    for (qsizetype i = 0; i < design.size(); ++i) {
        const QRectF expected = design[i].outline.boundingRect();
        const QRectF got = read[i].outline.boundingRect();
        const qreal off = std::max(
            {std::abs(expected.left() - got.left()), std::abs(expected.top() - got.top()),
             std::abs(expected.right() - got.right()), std::abs(expected.bottom() - got.bottom())});
        QVERIFY2(off < 0.01, qPrintable(QStringLiteral("shape %1 is off by %2").arg(i).arg(off)));
        QCOMPARE(read[i].outline.elementCount(), design[i].outline.elementCount());
        QCOMPARE(read[i].outline.fillRule(), design[i].outline.fillRule());
        QCOMPARE(read[i].fill.style(), design[i].fill.style());
        if (design[i].fill.gradient()) {
            QCOMPARE(read[i].fill.gradient()->stops(), design[i].fill.gradient()->stops());
        } else {
            QCOMPARE(read[i].fill.color().rgb(), design[i].fill.color().rgb());
            QVERIFY(std::abs(read[i].fill.color().alphaF() - design[i].fill.color().alphaF()) <
                    0.002);
        }
    }
}

void ProgramIconTest::svgDrawsLikeTheImage()
{
    QString viewBox, error;
    const QList<SvgShape> read = readSvg(ProgramIcon::svg(), &viewBox, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const int size = 128;
    QImage drawn(size, size, QImage::Format_ARGB32_Premultiplied);
    drawn.fill(Qt::transparent);
    {
        QPainter p(&drawn);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 64.0, size / 64.0);
        for (const SvgShape &shape : read)
            p.fillPath(shape.outline, shape.fill);
    }
    const int difference = largestChannelDifference(drawn, ProgramIcon::image(size));
    // Coordinates are written to a thousandth of a unit, so edges may shade a little apart.
    QVERIFY2(difference <= 8, qPrintable(QStringLiteral("pixels differ by %1").arg(difference)));
}

QTEST_MAIN(ProgramIconTest)
#include "tst_programicon.moc"
