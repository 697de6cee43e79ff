#include "naming.h"

#include <algorithm>

namespace Naming {

namespace {

/// The decimal digits of `magnitude`, last digit first; their count.
int reversedDigits(quint32 magnitude, char16_t (&digits)[10])
{
    int count = 0;
    do {
        digits[count++] = char16_t(u'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    return count;
}

quint32 magnitudeOf(qint32 number)
{
    return number < 0 ? quint32(-qint64(number)) : quint32(number);
}

} // namespace

QString numberText(qint32 number, int digits)
{
    return newName(QString(), number, digits, QString()).chopped(1);
}

QString newName(const QString &base, qint32 number, int digits, const QString &extension)
{
    // Made for every file of a batch: written in one go into one allocation.
    char16_t reversed[10];
    const int count = reversedDigits(magnitudeOf(number), reversed);
    const int zeros = digits > count ? digits - count : 0;
    const qsizetype sign = number < 0 ? 1 : 0;
    QString name(base.size() + sign + zeros + count + 1 + extension.size(), Qt::Uninitialized);
    char16_t *out = reinterpret_cast<char16_t *>(name.data());
    out = std::copy_n(reinterpret_cast<const char16_t *>(base.constData()), base.size(), out);
    if (sign)
        *out++ = u'-';
    out = std::fill_n(out, zeros, u'0');
    for (int i = count - 1; i >= 0; --i)
        *out++ = reversed[i];
    *out++ = u'.';
    std::copy_n(reinterpret_cast<const char16_t *>(extension.constData()), extension.size(), out);
    return name;
}

} // namespace Naming
