#pragma once

#include <QtNumeric>

#include <limits>

/// Sizes read from a picture's header may be any number: their products and sums stop at the
/// largest value instead of wrapping.
namespace Saturating {

inline qint64 sum(qint64 a, qint64 b)
{
    qint64 result = 0;
    return qAddOverflow(a, b, &result) ? std::numeric_limits<qint64>::max() : result;
}

inline qint64 product(qint64 a, qint64 b)
{
    qint64 result = 0;
    return qMulOverflow(a, b, &result) ? std::numeric_limits<qint64>::max() : result;
}

} // namespace Saturating
