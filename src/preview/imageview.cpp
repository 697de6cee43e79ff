#include "imageview.h"

#include "accessibility.h"

#include <QPainter>

#include <cmath>

ImageView::ImageView(QWidget *parent) : QWidget(parent)
{
    Accessibility::exposeAs("ImageView", QAccessible::Graphic);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void ImageView::setPicture(const QImage &image, QSizeF naturalTwips)
{
    m_picture = image;
    m_width = float(naturalTwips.width());
    m_height = float(naturalTwips.height());
    place();
}

void ImageView::clearPicture()
{
    m_picture = QImage();
    update();
}

void ImageView::setLeft(float left)
{
    m_left = left;
    place();
}

void ImageView::setTop(float top)
{
    m_top = top;
    place();
}

void ImageView::setWidth(float width)
{
    m_width = width;
    place();
}

void ImageView::setHeight(float height)
{
    m_height = height;
    place();
}

void ImageView::place()
{
    const auto px = [](float twips) { return int(std::lround(twips / twipsPerPixel)); };
    QWidget::setGeometry(px(m_left), px(m_top), px(m_width), px(m_height));
    update();
}

void ImageView::paintEvent(QPaintEvent *)
{
    if (m_picture.isNull())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(rect(), m_picture);
}
