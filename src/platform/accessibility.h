#pragma once

#include <QAccessible>

/// What screen readers are told beyond what Qt tells them by itself.
namespace Accessibility {

/// Widgets of the class `className` (a QWidget subclass) are exposed with `role` instead of the
/// one Qt gives a plain widget (a client area, which AT-SPI calls a filler): a window as a
/// window or a dialog, a picture as a graphic. Their name is their accessible name, else a
/// window's title. Called before the first such widget is made (its constructor is early
/// enough: Qt makes a widget's interface when it is first asked for).
void exposeAs(const char *className, QAccessible::Role role);

} // namespace Accessibility
