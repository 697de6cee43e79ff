#include "namepickup.h"

#include "numericvalue.h"

#include <limits>

PickedName pickUpName(const QString &name)
{
    PickedName picked;
    const qsizetype length = name.size();

    // Positions count from 1; 0 means "none".
    qsizetype p = 0;
    for (qsizetype i = 0; i < length; ++i) {
        const QChar c = name[i];
        if ((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('.')) {
            p = i + 1;
            break;
        }
    }
    if (p > 0)
        picked.baseName = name.left(p - 1);

    const qsizetype point = name.indexOf(QLatin1Char('.'));
    const qsizetype e = point < 0 ? 0 : length - (point + 1);

    qsizetype a = length - e - p - 1;
    if (a < 2)
        a = 1;
    if (a > 13)
        a = 14;
    picked.digitIndex = int(a);

    const qsizetype start = p > 1 ? p : 1;
    const QString numberText = name.mid(start - 1, a + 1);
    const std::optional<qint32> number = roundToInt32(numericValue(numberText));
    if (number && *number < std::numeric_limits<qint32>::max())
        picked.nextNumber = *number + 1;

    picked.extension = e > 0 ? name.right(e) : QString();
    return picked;
}
