#pragma once

#include "renamejob.h"

#include <QElapsedTimer>

class QProgressBar;

/// Shows a batch's progress on the window's bar while the batch runs on the UI thread: the bar
/// is repainted whenever its drawn length changes, and at most every 100 ms the event loop runs
/// without user input so the desktop still sees a live window.
class WindowProgress final : public ProgressDisplay
{
public:
    explicit WindowProgress(QProgressBar *bar);
    void setRange(int minimum, int maximum) override;
    void setValue(int value) override;
    void setVisible(bool visible) override;
    void keepAlive() override;

private:
    int drawnLength(int value) const;

    QProgressBar *m_bar;
    QElapsedTimer m_sinceEvents;
    int m_minimum = 0;
    int m_maximum = 0;
    int m_drawn = -1;
};
