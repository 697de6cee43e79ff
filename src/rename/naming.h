#pragma once

#include <QString>

namespace Naming {

/// The running number in decimal, "-" before it when negative, padded with zeros to at least
/// `digits` digits (the sign does not count; a longer number is written in full).
QString numberText(qint32 number, int digits);

/// base + number text + "." + extension; the point stays when the extension is empty.
QString newName(const QString &base, qint32 number, int digits, const QString &extension);

} // namespace Naming
