#include "filenames.h"

#include <algorithm>

namespace FileNames {

namespace {

constexpr char16_t keptByteBase = 0xDC00;

bool isKeptByte(char16_t c)
{
    return c >= 0xDC80 && c <= 0xDCFF;
}

void appendUtf8(QByteArray &out, char32_t c)
{
    if (c < 0x80) {
        out.append(char(c));
    } else if (c < 0x800) {
        out.append(char(0xC0 | (c >> 6)));
        out.append(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.append(char(0xE0 | (c >> 12)));
        out.append(char(0x80 | ((c >> 6) & 0x3F)));
        out.append(char(0x80 | (c & 0x3F)));
    } else {
        out.append(char(0xF0 | (c >> 18)));
        out.append(char(0x80 | ((c >> 12) & 0x3F)));
        out.append(char(0x80 | ((c >> 6) & 0x3F)));
        out.append(char(0x80 | (c & 0x3F)));
    }
}

/// The length of the valid UTF-8 sequence at `p` (at most `left` bytes), 0 when there is none,
/// with its code point in `c`.
int validSequence(const unsigned char *p, qsizetype left, char32_t &c)
{
    const unsigned char b0 = p[0];
    int length;
    char32_t minimum;
    if (b0 < 0x80) {
        c = b0;
        return 1;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
        c = b0 & 0x1F;
        minimum = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        c = b0 & 0x0F;
        minimum = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        c = b0 & 0x07;
        minimum = 0x10000;
    } else {
        return 0;
    }
    if (left < length)
        return 0;
    for (int i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (p[i] & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    return length;
}

} // namespace

QByteArray encode(const QString &path)
{
    // Most names hold no kept bytes and no lone surrogates: Qt's own encoder is then exact.
    const char16_t *begin = reinterpret_cast<const char16_t *>(path.constData());
    if (std::none_of(begin, begin + path.size(), [](char16_t c) { return QChar::isSurrogate(c); }))
        return path.toUtf8();
    QByteArray out;
    out.reserve(path.size() + path.size() / 2);
    const qsizetype n = path.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = path.at(i).unicode();
        if (c < 0x80) {
            out.append(char(c));
        } else if (QChar::isHighSurrogate(c) && i + 1 < n &&
                   QChar::isLowSurrogate(path.at(i + 1).unicode())) {
            appendUtf8(out, QChar::surrogateToUcs4(c, path.at(i + 1).unicode()));
            ++i;
        } else if (isKeptByte(c)) {
            out.append(char(c - keptByteBase));
        } else if (QChar::isSurrogate(c)) {
            appendUtf8(out, 0xFFFD);
        } else {
            appendUtf8(out, c);
        }
    }
    return out;
}

qsizetype encodedSize(const QString &path)
{
    qsizetype size = 0;
    const qsizetype n = path.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = path.at(i).unicode();
        if (c < 0x80)
            size += 1;
        else if (QChar::isHighSurrogate(c) && i + 1 < n &&
                 QChar::isLowSurrogate(path.at(i + 1).unicode())) {
            size += 4;
            ++i;
        } else if (isKeptByte(c))
            size += 1;
        else if (QChar::isSurrogate(c))
            size += 3; // written as U+FFFD
        else
            size += c < 0x800 ? 2 : 3;
    }
    return size;
}

QString decode(const QByteArray &bytes)
{
    // Plain ASCII, the common case, decodes as it is.
    if (std::all_of(bytes.cbegin(), bytes.cend(), [](char c) { return uchar(c) < 0x80; }))
        return QString::fromLatin1(bytes);
    QString out;
    out.reserve(bytes.size());
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        if (p[i] < 0x80) {
            out.append(QChar(char16_t(p[i])));
            ++i;
            continue;
        }
        char32_t c = 0;
        const int length = validSequence(p + i, n - i, c);
        if (length == 0) {
            out.append(QChar(char16_t(keptByteBase + p[i])));
            ++i;
            continue;
        }
        if (QChar::requiresSurrogates(c)) {
            out.append(QChar(QChar::highSurrogate(c)));
            out.append(QChar(QChar::lowSurrogate(c)));
        } else {
            out.append(QChar(char16_t(c)));
        }
        i += length;
    }
    return out;
}

QString display(const QString &name)
{
    const char16_t *in = reinterpret_cast<const char16_t *>(name.constData());
    const qsizetype n = name.size();
    // Most names show as they are, shared rather than copied.
    const auto plain = [&](qsizetype i) {
        const char16_t c = in[i];
        return c >= 0x20 && c != 0x7F &&
               (!QChar::isSurrogate(c) ||
                (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(in[i + 1])) ||
                (QChar::isLowSurrogate(c) && i > 0 && QChar::isHighSurrogate(in[i - 1])));
    };
    qsizetype i = 0;
    while (i < n && plain(i))
        ++i;
    if (i == n)
        return name;
    QString shown = name.left(i);
    for (; i < n; ++i) {
        const char16_t c = in[i];
        if (plain(i))
            shown.append(QChar(c));
        else if (QChar::isSurrogate(c))
            shown.append(QChar(QChar::ReplacementCharacter));
        else // a control character, by its code: every font has these
            shown.append(QStringLiteral("<U+%1>").arg(int(c), 4, 16, QLatin1Char('0')).toUpper());
    }
    return shown;
}

Bytes::Bytes(const QString &name)
{
    const char16_t *in = reinterpret_cast<const char16_t *>(name.constData());
    const qsizetype size = name.size();
    if (size < qsizetype(sizeof m_small) &&
        std::all_of(in, in + size, [](char16_t c) { return c < 0x80; })) {
        std::transform(in, in + size, m_small, [](char16_t c) { return char(c); });
        m_small[size] = '\0';
        m_data = m_small;
        m_size = size;
        return;
    }
    m_large = encode(name);
    m_data = m_large.constData();
    m_size = m_large.size();
}

QUrl toUrl(const QString &path)
{
    return QUrl::fromEncoded("file://" + encode(path).toPercentEncoding("/"), QUrl::StrictMode);
}

QString fromUrl(const QUrl &url)
{
    // Any host but this machine's (none, or localhost) names a file elsewhere.
    if (!url.isLocalFile() || (!url.host().isEmpty() && url.host() != QLatin1String("localhost")))
        return {};
    const QByteArray encoded = url.path(QUrl::FullyEncoded).toLatin1();
    const QByteArray bytes = QByteArray::fromPercentEncoding(encoded);
    // A NUL ends a name early and an encoded slash is part of no name: the system would open
    // another file than the one meant.
    if (bytes.contains('\0') || bytes.count('/') != encoded.count('/'))
        return {};
    return decode(bytes);
}

} // namespace FileNames
