#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

/// The one crossing between file names in memory and the bytes the system uses. A name keeps
/// its exact bytes: valid UTF-8 is decoded as such, and every byte that is not part of valid
/// UTF-8 becomes a lone surrogate U+DC80 to U+DCFF that encodes back to the same byte.
namespace FileNames {

/// The bytes for the system. Lone surrogates other than U+DC80 to U+DCFF (which decode never
/// produces) are written as U+FFFD.
QByteArray encode(const QString &path);
/// The number of bytes encode() gives, without making them.
qsizetype encodedSize(const QString &path);
/// Strict UTF-8 (no overlong forms, no encoded surrogates, nothing above U+10FFFF); each byte
/// outside it is kept as U+DC00 + byte.
QString decode(const QByteArray &bytes);
/// The name as shown on screen and in messages: kept bytes appear as U+FFFD, and control
/// characters (which fonts draw as nothing or as boxes) by their code, a tab as <U+0009>.
QString display(const QString &name);

/// encode() for one name handed to a system call: a short name of plain ASCII (the common
/// case) is held on the stack, without an allocation. Terminated by a NUL.
class Bytes
{
public:
    explicit Bytes(const QString &name);
    Bytes(const Bytes &) = delete;
    Bytes &operator=(const Bytes &) = delete;
    const char *constData() const { return m_data; }
    qsizetype size() const { return m_size; }
    operator QByteArrayView() const { return {m_data, m_size}; }
    QByteArray toByteArray() const { return QByteArray(m_data, m_size); }

private:
    char m_small[256];
    QByteArray m_large;
    const char *m_data;
    qsizetype m_size;
};

/// The file: URL of a full path, its exact bytes percent-encoded (as file managers write them
/// into text/uri-list).
QUrl toUrl(const QString &path);
/// The full path of a local file: URL, with its exact bytes; empty for any other URL, and for
/// one that encodes a NUL or a slash.
QString fromUrl(const QUrl &url);

} // namespace FileNames
