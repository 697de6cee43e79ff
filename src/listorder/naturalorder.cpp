#include "naturalorder.h"

#include "byposition.h"
#include "filenames.h"

#include <algorithm>
#include <numeric>
#include <vector>

namespace NaturalOrder {

namespace {

/// The value of an ASCII or full-width digit (U+FF10 to U+FF19), or -1.
int digitValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'\uFF10' && u <= u'\uFF19')
        return u - u'\uFF10';
    return -1;
}

} // namespace

// A digit run (ASCII and full-width digits alike) becomes a marker (the code of '0', so digits
// still sort before letters as in plain text), its length without leading zeros, then its
// digits as ASCII: shorter numbers come first. ASCII digits never appear in the key outside
// such runs, so the marker is unambiguous.
QString sortKey(const QString &name)
{
    QString key;
    key.reserve(name.size() + 8);
    const qsizetype n = name.size();
    qsizetype i = 0;
    while (i < n) {
        if (digitValue(name[i]) >= 0) {
            qsizetype end = i;
            while (end < n && digitValue(name[end]) >= 0)
                ++end;
            qsizetype start = i;
            while (start < end - 1 && digitValue(name[start]) == 0)
                ++start;
            key.append(QLatin1Char('0'));
            key.append(QChar(char16_t(std::min<qsizetype>(end - start, 0xFFFF))));
            for (qsizetype d = start; d < end; ++d)
                key.append(QChar(char16_t(u'0' + digitValue(name[d]))));
            i = end;
            continue;
        }
        qsizetype end = i;
        while (end < n && digitValue(name[end]) < 0)
            ++end;
        key.append(QStringView(name).mid(i, end - i).toString().toCaseFolded());
        i = end;
    }
    return key;
}

void sort(QStringList &names)
{
    std::vector<QString> shown;
    std::vector<QString> keys;
    shown.reserve(size_t(names.size()));
    keys.reserve(size_t(names.size()));
    for (const QString &name : names) {
        shown.push_back(FileNames::display(name));
        keys.push_back(sortKey(shown.back()));
    }
    ListOrders::sortByPosition(names, [&](qsizetype a, qsizetype b) {
        const auto i = size_t(a), j = size_t(b);
        if (const int byKey = QString::compare(keys[i], keys[j], Qt::CaseSensitive); byKey != 0)
            return byKey < 0;
        if (const int byShown = QString::compare(shown[i], shown[j], Qt::CaseSensitive);
            byShown != 0)
            return byShown < 0;
        // Different kept bytes can show alike.
        return names[a] < names[b];
    });
}

} // namespace NaturalOrder
