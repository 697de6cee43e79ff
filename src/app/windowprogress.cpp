#include "windowprogress.h"

#include <QCoreApplication>
#include <QProgressBar>

WindowProgress::WindowProgress(QProgressBar *bar) : m_bar(bar)
{
    m_sinceEvents.start();
}

void WindowProgress::setRange(int minimum, int maximum)
{
    m_minimum = minimum;
    m_maximum = maximum;
    // A batch of one entry or none has an empty range; the bar then counts 0 to 1 (a range of
    // 0 to 0 would turn it into a busy indicator).
    m_bar->setRange(minimum, std::max(maximum, minimum + 1));
    m_drawn = -1;
}

int WindowProgress::drawnLength(int value) const
{
    const qint64 span = std::max(1, m_bar->maximum() - m_bar->minimum());
    return int(qint64(value - m_bar->minimum()) * m_bar->width() / span);
}

void WindowProgress::setValue(int value)
{
    m_bar->setValue(value);
    const int drawn = drawnLength(value);
    if (drawn != m_drawn && m_bar->isVisible()) {
        m_drawn = drawn;
        m_bar->repaint();
    }
    keepAlive();
}

void WindowProgress::keepAlive()
{
    // Often enough that no wait, with the step that follows, reaches 100 ms.
    if (m_sinceEvents.elapsed() >= 50) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        m_sinceEvents.restart();
    }
}

void WindowProgress::setVisible(bool visible)
{
    m_bar->setVisible(visible);
    if (visible)
        m_bar->repaint();
}
