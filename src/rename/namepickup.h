#pragma once

#include <QString>

#include <optional>

/// The naming entries taken from a file name of the form base + number + "." + extension.
struct PickedName
{
    std::optional<QString> baseName;  ///< set only when the name holds a digit or a point
    int digitIndex = 1;               ///< index in the digit-count list, 1 to 14 (2 to 15 digits)
    std::optional<qint32> nextNumber; ///< the number plus one; nothing when it does not fit
    QString extension;                ///< everything after the first point
};

/// Takes a file name apart so that a numbering can be continued behind it.
PickedName pickUpName(const QString &name);
