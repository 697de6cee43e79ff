#pragma once

#include <QLatin1StringView>

/// How the program presents itself to the desktop, set up the same way by the program and by
/// its tests.
namespace DesktopSetup {

/// The program's name towards the system, in ASCII: the command, the application name (which
/// Qt's X11 plugin puts into the window class, WM_CLASS) and the desktop entry's
/// StartupWMClass, so that docks group the windows with their launcher.
inline constexpr QLatin1StringView programName("kaenami");

/// Names the application: programName, the version and the desktop entry (Wayland's app id).
/// No display name is set: Qt would append it to the title of every window whose title does
/// not end with it, and each window's Japanese title is its own.
void nameApplication();

/// Qt's own texts (standard buttons, the text boxes' context menus) in Japanese whatever the
/// locale: installs Qt's translations qtbase_ja once. False when they are not installed
/// (Debian's qt6-translations-l10n).
bool loadQtTranslations();

} // namespace DesktopSetup
