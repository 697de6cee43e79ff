#include "naming.h"

namespace Naming {

QString numberText(qint32 number, int digits)
{
    const qint64 wide = number;
    QString digitsText = QString::number(wide < 0 ? -wide : wide);
    if (digitsText.size() < digits)
        digitsText.prepend(QString(digits - digitsText.size(), QLatin1Char('0')));
    return wide < 0 ? QLatin1Char('-') + digitsText : digitsText;
}

QString newName(const QString &base, qint32 number, int digits, const QString &extension)
{
    return base + numberText(number, digits) + QLatin1Char('.') + extension;
}

} // namespace Naming
