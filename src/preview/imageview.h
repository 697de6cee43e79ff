#pragma once

#include "twips.h"

#include <QImage>
#include <QWidget>

/// The picture display laid over the preview area. Its place and size are kept in twips as
/// 32-bit floats, the units the sizing rules compute in; the widget follows them in pixels.
class ImageView final : public QWidget
{
    Q_OBJECT

public:
    static constexpr float twipsPerPixel = float(Twips::perPixel);

    explicit ImageView(QWidget *parent = nullptr);

    /// The picture and its natural size in twips (the control takes it while not stretched).
    void setPicture(const QImage &image, QSizeF naturalTwips);
    const QImage &picture() const { return m_picture; }
    void clearPicture();

    bool stretch() const { return m_stretch; }
    void setStretch(bool stretch) { m_stretch = stretch; }

    float left() const { return m_left; }
    float top() const { return m_top; }
    float width() const { return m_width; }
    float height() const { return m_height; }
    void setLeft(float left);
    void setTop(float top);
    void setWidth(float width);
    void setHeight(float height);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void place();

    QImage m_picture;
    bool m_stretch = false;
    float m_left = 0, m_top = 0, m_width = 0, m_height = 0;
};
