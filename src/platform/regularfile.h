#pragma once

#include "opresult.h"

#include <QFile>
#include <QString>

/// Opens `path` for reading without ever blocking: a pipe, socket or device is refused with a
/// reason naming what it is, and only a regular file is handed to `file` (which then owns the
/// descriptor).
OpResult openRegularFile(const QString &path, QFile &file);

/// The reason given for something that is not a regular file.
QString notARegularFileText();

/// The reason given for a file of the program's own that another user owns or may write.
QString notTheUsersOwnText();
