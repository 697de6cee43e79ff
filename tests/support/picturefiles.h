#pragma once

#include <QByteArray>
#include <QFile>
#include <QRgb>
#include <QString>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cstring>

/// Writers of large two-colour pictures (left half one colour, right half another) for the
/// preview's tests and benchmark. They never hold a QImage of the whole picture, which would not
/// fit a small machine: BMP and GIF rows are streamed, PNG rows are compressed in one piece of
/// one byte (grey) or three bytes (colour) a pixel.
namespace PictureFiles {

namespace Detail {

inline void put16(QByteArray &out, quint16 value)
{
    char bytes[2];
    qToLittleEndian(value, bytes);
    out.append(bytes, 2);
}

inline void put32(QByteArray &out, quint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}

inline void put32be(QByteArray &out, quint32 value)
{
    char bytes[4];
    qToBigEndian(value, bytes);
    out.append(bytes, 4);
}

inline quint32 crc32(const QByteArray &bytes)
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t{};
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? 0xedb88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    quint32 c = 0xffffffffu;
    for (const char byte : bytes)
        c = table[(c ^ quint8(byte)) & 0xff] ^ (c >> 8);
    return c ^ 0xffffffffu;
}

inline QByteArray pngChunk(const char *type, const QByteArray &data)
{
    QByteArray chunk;
    put32be(chunk, quint32(data.size()));
    const QByteArray body = QByteArray(type, 4) + data;
    chunk += body;
    put32be(chunk, crc32(body));
    return chunk;
}

} // namespace Detail

inline qint64 bmpRowBytes(int width)
{
    return (qint64(width) * 3 + 3) / 4 * 4;
}

/// The 54 bytes of headers of a 24-bit BMP, stored bottom-up as most are.
inline QByteArray bmpHeader(int width, int height)
{
    const qint64 rowBytes = bmpRowBytes(width);
    QByteArray header("BM");
    Detail::put32(header, quint32(54 + rowBytes * height));
    Detail::put32(header, 0);
    Detail::put32(header, 54);
    Detail::put32(header, 40);
    Detail::put32(header, quint32(width));
    Detail::put32(header, quint32(height));
    Detail::put16(header, 1);
    Detail::put16(header, 24);
    for (int i = 0; i < 6; ++i)
        Detail::put32(header, 0);
    return header;
}

inline bool writeBmp(const QString &path, int width, int height, QRgb left, QRgb right)
{
    const QByteArray header = bmpHeader(width, height);
    QByteArray row(bmpRowBytes(width), '\0');
    for (int x = 0; x < width; ++x) {
        const QRgb c = x < width / 2 ? left : right;
        row[3 * x] = char(qBlue(c));
        row[3 * x + 1] = char(qGreen(c));
        row[3 * x + 2] = char(qRed(c));
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(header) != header.size())
        return false;
    for (int y = 0; y < height; ++y) {
        if (file.write(row) != row.size())
            return false;
    }
    return true;
}

namespace Detail {

/// A PNG, not interlaced, of `height` copies of `row` (its filter byte first).
inline bool writePngRows(const QString &path, int width, int height, int depth, int colourType,
                         const QByteArray &row)
{
    QByteArray idat;
    {
        QByteArray raw(row.size() * height, Qt::Uninitialized);
        for (int y = 0; y < height; ++y)
            std::memcpy(raw.data() + row.size() * y, row.constData(), size_t(row.size()));
        // qCompress gives the length in 4 bytes, then a zlib stream: what IDAT holds.
        idat = qCompress(raw, 1).mid(4);
    }
    QByteArray ihdr;
    put32be(ihdr, quint32(width));
    put32be(ihdr, quint32(height));
    ihdr.append(char(depth));
    ihdr.append(char(colourType));
    ihdr.append(3, '\0'); // deflate, adaptive filtering, not interlaced
    const QByteArray png = QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", ihdr) +
                           pngChunk("IDAT", idat) + pngChunk("IEND", QByteArray());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(png) == png.size();
}

} // namespace Detail

/// An 8-bit PNG, grey (from the colours' grey values) or colour, not interlaced.
inline bool writePng(const QString &path, int width, int height, bool grey, QRgb left, QRgb right)
{
    const int channels = grey ? 1 : 3;
    // Filter type 0, then the pixels.
    QByteArray row(1 + qsizetype(width) * channels, '\0');
    for (int x = 0; x < width; ++x) {
        const QRgb c = x < width / 2 ? left : right;
        if (grey) {
            row[1 + x] = char(qGray(c));
        } else {
            row[1 + 3 * x] = char(qRed(c));
            row[1 + 3 * x + 1] = char(qGreen(c));
            row[1 + 3 * x + 2] = char(qBlue(c));
        }
    }
    return Detail::writePngRows(path, width, height, 8, grey ? 0 : 2, row);
}

/// A 1-bit grey PNG, the left half black, the right half white (width a multiple of 16): an
/// eighth of a byte a pixel decoded.
inline bool writeMonoPng(const QString &path, int width, int height)
{
    QByteArray row(1 + qsizetype(width) / 8, '\0');
    std::fill(row.begin() + 1 + width / 16, row.end(), char(0xff));
    return Detail::writePngRows(path, width, height, 1, 0, row);
}

/// A GIF with a 256-colour table whose LZW data are plain 9-bit codes, the table cleared before
/// it would widen them: nine bits a pixel, no compression to write.
inline bool writeGif(const QString &path, int width, int height, QRgb left, QRgb right)
{
    QByteArray out("GIF89a");
    Detail::put16(out, quint16(width));
    Detail::put16(out, quint16(height));
    out.append(char(0xf7)); // a global table of 256 colours
    out.append(2, '\0');
    for (int i = 0; i < 256; ++i) {
        const QRgb c = i == 1 ? right : left;
        out.append(char(qRed(c)));
        out.append(char(qGreen(c)));
        out.append(char(qBlue(c)));
    }
    out.append(char(0x2c));
    Detail::put16(out, 0);
    Detail::put16(out, 0);
    Detail::put16(out, quint16(width));
    Detail::put16(out, quint16(height));
    out.append('\0');
    out.append(char(8)); // LZW minimum code size

    QByteArray data;
    quint32 pending = 0;
    int bits = 0;
    const auto code = [&](int value) {
        pending |= quint32(value) << bits;
        for (bits += 9; bits >= 8; bits -= 8) {
            data.append(char(pending & 0xff));
            pending >>= 8;
        }
    };
    const qint64 pixels = qint64(width) * height;
    for (qint64 i = 0; i < pixels; ++i) {
        if (i % 250 == 0)
            code(256); // clear
        code(i % width < width / 2 ? 0 : 1);
    }
    code(257); // end of information
    if (bits > 0)
        data.append(char(pending & 0xff));
    for (qsizetype at = 0; at < data.size(); at += 255) {
        const qsizetype length = std::min<qsizetype>(255, data.size() - at);
        out.append(char(length));
        out.append(data.constData() + at, length);
    }
    out.append('\0');
    out.append(char(0x3b));
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(out) == out.size();
}

} // namespace PictureFiles
