#include "consoleoutput.h"

TerminalProgress::TerminalProgress(Console &console)
    : m_console(console), m_terminal(console.errorIsTerminal())
{}

void TerminalProgress::setRange(int minimum, int maximum)
{
    m_minimum = minimum;
    m_maximum = maximum;
    draw();
}

void TerminalProgress::setValue(int value)
{
    m_value = value;
    draw();
}

void TerminalProgress::setVisible(bool visible)
{
    m_visible = visible;
    if (visible)
        draw();
    else
        clearLine();
}

QString TerminalProgress::line(int minimum, int maximum, int value)
{
    // As the window's bar: an empty range counts 0 to 1.
    const qint64 span = std::max(1, maximum - minimum);
    const qint64 done = std::clamp<qint64>(value - minimum, 0, span);
    const int filled = int(done * barWidth / span);
    return QStringLiteral("進行状況 [%1%2] %3%")
        .arg(QString(filled, QLatin1Char('#')), QString(barWidth - filled, QLatin1Char('-')))
        .arg(done * 100 / span, 3);
}

void TerminalProgress::draw()
{
    if (!m_terminal || !m_visible)
        return;
    // Written again only when it looks different: once a percent or a step of the bar.
    const QString text = line(m_minimum, m_maximum, m_value);
    if (m_shown && text == m_drawn)
        return;
    m_drawn = text;
    m_shown = true;
    m_console.writeError(QLatin1Char('\r') + text);
}

void TerminalProgress::clearLine()
{
    if (!m_shown)
        return;
    m_shown = false;
    m_console.writeError(QStringLiteral("\r\x1b[K"));
}

ConsoleMessages::ConsoleMessages(Console &console, TerminalProgress &progress)
    : m_console(console), m_progress(progress)
{}

QString ConsoleMessages::asLines(const QString &text)
{
    QString lines = text;
    lines.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return lines + QLatin1Char('\n');
}

void ConsoleMessages::inform(const QString &text)
{
    m_progress.clearLine();
    m_console.writeError(asLines(text));
}

bool ConsoleMessages::retryOrCancel(const QString &text)
{
    inform(text);
    return false;
}

bool ConsoleMessages::askYesNo(const QString &text)
{
    m_progress.clearLine();
    if (!m_console.inputIsTerminal())
        return false;
    QString question = asLines(text);
    question.chop(1);
    m_console.writeError(question + QStringLiteral(" [y/N] "));
    const std::optional<QString> answer = m_console.readLine();
    if (!answer)
        m_console.writeError(QStringLiteral("\n"));
    const QString word = answer.value_or(QString()).trimmed().toLower();
    return word == QLatin1String("y") || word == QLatin1String("yes") ||
           word == QStringLiteral("はい");
}
