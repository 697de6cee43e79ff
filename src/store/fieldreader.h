#pragma once

#include <QString>

/// Reads the quoted, comma-separated fields of the program's two data files. Commas and line
/// ends both end a field, so lines may break anywhere; a field that begins with a double quote
/// runs to the next double quote, commas and line ends included.
class FieldReader
{
public:
    explicit FieldReader(QString text) : m_text(std::move(text)) {}

    /// True when nothing but blanks and line ends is left.
    bool atEnd() const;
    /// The next field; empty at the end.
    QString next();

private:
    void skipBlanks();
    void skipSeparator();

    QString m_text;
    qsizetype m_pos = 0;
};
