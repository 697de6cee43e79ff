#include "naturalorder.h"

#include <algorithm>
#include <numeric>
#include <vector>

namespace NaturalOrder {

// A digit run becomes a marker (the code of '0', so digits still sort before letters as in
// plain text), its length without leading zeros, then its digits: shorter numbers come first.
// Digit characters never appear in the key outside such runs, so the marker is unambiguous.
QString sortKey(const QString &name)
{
    QString key;
    key.reserve(name.size() + 8);
    const qsizetype n = name.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = name[i];
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            qsizetype end = i;
            while (end < n && name[end] >= QLatin1Char('0') && name[end] <= QLatin1Char('9'))
                ++end;
            qsizetype start = i;
            while (start < end - 1 && name[start] == QLatin1Char('0'))
                ++start;
            key.append(QLatin1Char('0'));
            key.append(QChar(char16_t(std::min<qsizetype>(end - start, 0xFFFF))));
            key.append(QStringView(name).mid(start, end - start));
            i = end;
            continue;
        }
        qsizetype end = i;
        while (end < n && !(name[end] >= QLatin1Char('0') && name[end] <= QLatin1Char('9')))
            ++end;
        key.append(QStringView(name).mid(i, end - i).toString().toCaseFolded());
        i = end;
    }
    return key;
}

void sort(QStringList &names)
{
    std::vector<QString> keys;
    keys.reserve(size_t(names.size()));
    for (const QString &name : names)
        keys.push_back(sortKey(name));
    std::vector<qsizetype> order(size_t(names.size()));
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) {
        const int byKey = QString::compare(keys[size_t(a)], keys[size_t(b)], Qt::CaseSensitive);
        if (byKey != 0)
            return byKey < 0;
        return names[a] < names[b];
    });
    QStringList sorted;
    sorted.reserve(names.size());
    for (const qsizetype index : order)
        sorted.append(names[index]);
    names = std::move(sorted);
}

} // namespace NaturalOrder
