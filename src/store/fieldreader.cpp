#include "fieldreader.h"

namespace {
bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}
bool isLineEnd(QChar c)
{
    return c == QLatin1Char('\r') || c == QLatin1Char('\n');
}
} // namespace

bool FieldReader::atEnd() const
{
    for (qsizetype i = m_pos; i < m_text.size(); ++i) {
        if (!isBlank(m_text[i]) && !isLineEnd(m_text[i]))
            return false;
    }
    return true;
}

void FieldReader::skipBlanks()
{
    while (m_pos < m_text.size() && isBlank(m_text[m_pos]))
        ++m_pos;
}

// After a field: past the next comma or line end (CR LF counts as one), whatever stands before.
void FieldReader::skipSeparator()
{
    while (m_pos < m_text.size()) {
        const QChar c = m_text[m_pos++];
        if (c == QLatin1Char(','))
            return;
        if (c == QLatin1Char('\r')) {
            if (m_pos < m_text.size() && m_text[m_pos] == QLatin1Char('\n'))
                ++m_pos;
            return;
        }
        if (c == QLatin1Char('\n'))
            return;
    }
}

QString FieldReader::next()
{
    skipBlanks();
    if (m_pos >= m_text.size())
        return {};
    if (m_text[m_pos] == QLatin1Char('"')) {
        const qsizetype start = m_pos + 1;
        qsizetype close = m_text.indexOf(QLatin1Char('"'), start);
        if (close < 0)
            close = m_text.size();
        m_pos = close + 1;
        const QString field = m_text.mid(start, close - start);
        skipSeparator();
        return field;
    }
    const qsizetype start = m_pos;
    while (m_pos < m_text.size() && m_text[m_pos] != QLatin1Char(',') && !isLineEnd(m_text[m_pos]))
        ++m_pos;
    QString field = m_text.mid(start, m_pos - start);
    while (!field.isEmpty() && isBlank(field.back()))
        field.chop(1);
    skipSeparator();
    return field;
}
