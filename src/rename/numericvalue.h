#pragma once

#include <QStringView>

#include <optional>

/// The leading number of a text, the way the program reads every number a user types or a file
/// holds: blanks, tabs and line feeds are ignored anywhere; an optional sign, digits with an
/// optional decimal point and an optional exponent (E or D); "&H" and "&O" introduce
/// hexadecimal and octal whole numbers. A text without a number reads as 0.
double numericValue(QStringView text);

/// Rounds to the nearest whole number, halves to the even neighbour (2.5 gives 2, 3.5 gives 4);
/// nothing when the result does not fit.
std::optional<qint16> roundToInt16(double value);
std::optional<qint32> roundToInt32(double value);
