#include "numericvalue.h"

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <locale.h>
#include <string>

namespace {

bool isIgnored(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n');
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

double radixValue(const std::string &s, size_t from, int radix)
{
    double value = 0;
    for (size_t i = from; i < s.size(); ++i) {
        const char c = char(std::tolower(static_cast<unsigned char>(s[i])));
        int digit;
        if (isDigit(c))
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else
            break;
        if (digit >= radix)
            break;
        value = value * radix + digit;
    }
    return value;
}

} // namespace

double numericValue(QStringView text)
{
    // Only ASCII can take part in a number; anything else ends it, so map it to a stopper.
    std::string s;
    s.reserve(size_t(text.size()));
    for (const QChar c : text) {
        if (isIgnored(c))
            continue;
        s.push_back(c.unicode() < 0x80 ? char(c.unicode()) : '\x01');
    }

    if (s.size() >= 2 && s[0] == '&') {
        const char kind = char(std::toupper(static_cast<unsigned char>(s[1])));
        if (kind == 'H')
            return radixValue(s, 2, 16);
        if (kind == 'O')
            return radixValue(s, 2, 8);
    }

    std::string number;
    size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        number.push_back(s[i++]);
    bool anyDigit = false;
    while (i < s.size() && isDigit(s[i])) {
        number.push_back(s[i++]);
        anyDigit = true;
    }
    if (i < s.size() && s[i] == '.') {
        number.push_back(s[i++]);
        while (i < s.size() && isDigit(s[i])) {
            number.push_back(s[i++]);
            anyDigit = true;
        }
    }
    if (!anyDigit)
        return 0;
    if (i < s.size() && (s[i] == 'E' || s[i] == 'e' || s[i] == 'D' || s[i] == 'd')) {
        size_t j = i + 1;
        std::string exponent = "e";
        if (j < s.size() && (s[j] == '+' || s[j] == '-'))
            exponent.push_back(s[j++]);
        if (j < s.size() && isDigit(s[j])) {
            while (j < s.size() && isDigit(s[j]))
                exponent.push_back(s[j++]);
            number += exponent;
        }
    }

    // strtod_l gives infinity on overflow and zero on underflow, whatever the user's locale.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    return strtod_l(number.c_str(), nullptr, cLocale);
}

namespace {
template <typename T> std::optional<T> roundTo(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    const double rounded = std::nearbyint(value); // the default mode rounds halves to even
    if (rounded < double(std::numeric_limits<T>::min()) ||
        rounded > double(std::numeric_limits<T>::max()))
        return std::nullopt;
    return T(rounded);
}
} // namespace

std::optional<qint16> roundToInt16(double value)
{
    return roundTo<qint16>(value);
}

std::optional<qint32> roundToInt32(double value)
{
    return roundTo<qint32>(value);
}
