#pragma once

#include <QByteArray>
#include <QString>

namespace TextCodec {

/// Decodes a data file: in the system encoding, or as Shift-JIS (CP932) when the bytes are not
/// valid in it, so files written on Japanese systems still read.
QString decode(const QByteArray &bytes);

/// Encodes in the system encoding.
QByteArray encode(const QString &text);

} // namespace TextCodec
