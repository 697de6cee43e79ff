#pragma once

#include "console.h"
#include "messageboxes.h"
#include "renamejob.h"

#include <QElapsedTimer>

#include <functional>

/// A batch's progress on one line of a terminal (standard error), redrawn as its bar would
/// grow; nothing where standard error is no terminal.
class TerminalProgress final : public ProgressDisplay
{
public:
    explicit TerminalProgress(Console &console);
    void setRange(int minimum, int maximum) override;
    void setValue(int value) override;
    void setVisible(bool visible) override;
    bool stopRequested() override { return m_stopCheck && m_stopCheck(); }
    /// Where a stop request comes from (Ctrl+C); none by default.
    void setStopCheck(std::function<bool()> check) { m_stopCheck = std::move(check); }
    /// Takes the line away, so that a message can be written in its place.
    void clearLine();

    static constexpr int barWidth = 30;
    /// The line for `value` in the range, without its carriage return.
    static QString line(int minimum, int maximum, int value);

private:
    void draw();

    Console &m_console;
    bool m_terminal;
    int m_minimum = 0;
    int m_maximum = 0;
    int m_value = 0;
    bool m_visible = false;
    bool m_shown = false;
    QString m_drawn;
    std::function<bool()> m_stopCheck;
};

/// The window's messages on standard error, one line end each (CR LF becomes LF).
class ConsoleMessages final : public MessageBoxes
{
public:
    ConsoleMessages(Console &console, TerminalProgress &progress);
    void inform(const QString &text) override;
    /// Cancel: a run without a window has no one to retry for it.
    bool retryOrCancel(const QString &text) override;
    /// Asked on standard error and answered on standard input, where it is a terminal; No
    /// otherwise, and for any answer but y, yes or はい.
    bool askYesNo(const QString &text) override;

    /// The text as written: CR LF as LF, a line end after it.
    static QString asLines(const QString &text);

private:
    Console &m_console;
    TerminalProgress &m_progress;
};
