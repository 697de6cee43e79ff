#pragma once

#include "fileoperations.h"
#include "messageboxes.h"
#include "registry.h"

#include <QString>

namespace SysInfo {

inline constexpr quint32 allAccess = 0x2003F;
inline constexpr int bufferSize = 1024;

/// Reads one registry value as text into `keyVal`. Text values lose a trailing NUL; a number
/// (REG_DWORD) is given in decimal; a value of another type leaves `keyVal` as it was but still
/// counts as read. False, with `keyVal` empty, when the key or value is missing or the data
/// does not fit 1024 bytes.
bool GetKeyValue(Registry &registry, quint32 keyRoot, const QString &keyName,
                 const QString &subKeyRef, QString &keyVal);

/// Finds the system-information tool through the registry and starts it, or says that it
/// cannot be used. True when a program was started.
bool StartSysInfo(Registry &registry, FileOperations &files, Launcher &launcher,
                  MessageBoxes &messages);

QString unavailableMessage();

} // namespace SysInfo
