#pragma once

#include <QStringList>

#include <algorithm>
#include <numeric>
#include <vector>

namespace ListOrders {

/// Puts `names` in the order `before(a, b)` gives their positions; equal ones keep theirs. The
/// comparison works on positions, so that what it compares is worked out once per name.
template <typename Before> void sortByPosition(QStringList &names, Before before)
{
    std::vector<qsizetype> order(size_t(names.size()));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), before);
    QStringList sorted;
    sorted.reserve(names.size());
    for (const qsizetype index : order)
        sorted.append(names[index]);
    names = std::move(sorted);
}

} // namespace ListOrders
