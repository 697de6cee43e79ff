#include "windowprogress.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QProgressBar>

/// Held over the event loop while a batch lets it run: user input is handled so that Esc is
/// seen at once, but goes no further. Close requests pass: the window takes them as a stop.
class WindowProgress::InputGate final : public QObject
{
public:
    explicit InputGate(WindowProgress &progress) : m_progress(progress)
    {
        QCoreApplication::instance()->installEventFilter(this);
    }
    ~InputGate() override { QCoreApplication::instance()->removeEventFilter(this); }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::ShortcutOverride:
            // Taken by the gate, so that no shortcut or menu key fires either.
            event->accept();
            return true;
        case QEvent::KeyPress:
            if (static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape)
                m_progress.requestStop();
            return true;
        case QEvent::KeyRelease:
        case QEvent::Shortcut:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::NonClientAreaMouseButtonPress:
        case QEvent::NonClientAreaMouseButtonRelease:
        case QEvent::NonClientAreaMouseButtonDblClick:
        case QEvent::NonClientAreaMouseMove:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::InputMethod:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TouchCancel:
        case QEvent::TabletPress:
        case QEvent::TabletMove:
        case QEvent::TabletRelease:
        case QEvent::NativeGesture:
            return true;
        default:
            return false;
        }
    }

private:
    WindowProgress &m_progress;
};

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
        const InputGate gate(*this);
        QCoreApplication::processEvents();
        m_sinceEvents.restart();
    }
}

void WindowProgress::setVisible(bool visible)
{
    m_bar->setVisible(visible);
    if (visible)
        m_bar->repaint();
}
