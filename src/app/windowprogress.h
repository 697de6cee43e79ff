#pragma once

#include "renamejob.h"

#include <QElapsedTimer>

class QProgressBar;

/// Shows a batch's progress on the window's bar while the batch runs on the UI thread: the bar
/// is repainted whenever its drawn length changes, and at most every 100 ms the event loop runs
/// so the desktop still sees a live window. Meanwhile Esc asks the batch to stop; every other
/// key, click or touch is dropped, so nothing acts on the window under the running batch.
class WindowProgress final : public ProgressDisplay
{
public:
    explicit WindowProgress(QProgressBar *bar);
    void setRange(int minimum, int maximum) override;
    void setValue(int value) override;
    void setVisible(bool visible) override;
    void keepAlive() override;
    bool stopRequested() override { return m_stopRequested; }
    /// Asks the batch to stop after the file it is on.
    void requestStop() { m_stopRequested = true; }

private:
    class InputGate;
    int drawnLength(int value) const;

    QProgressBar *m_bar;
    QElapsedTimer m_sinceEvents;
    int m_minimum = 0;
    int m_maximum = 0;
    int m_drawn = -1;
    bool m_stopRequested = false;
};
