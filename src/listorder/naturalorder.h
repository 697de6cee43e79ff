#pragma once

#include <QString>
#include <QStringList>

namespace NaturalOrder {

/// A key whose plain comparison gives the order file managers show: runs of digits (ASCII and
/// full-width) compared by value, letter case ignored, whatever the user's locale.
QString sortKey(const QString &name);

/// Sorts file names by the keys of their shown text (FileNames::display); equal keys fall back
/// to the shown text (case, then leading zeros decide), then to the exact names, so the order
/// is total and stable across runs.
void sort(QStringList &names);

} // namespace NaturalOrder
