#pragma once

#include "opresult.h"

#include <QString>

/// Paths handed to the program from outside (its command line, a drop), as the system reads
/// them.
namespace SystemPaths {

/// The process's working folder, exact bytes kept; empty when it cannot be told.
QString workingFolder();

/// `path` made absolute against the working folder, with every link, "." and ".." followed as
/// the system follows them (realpath). Fails with the system's reason.
OpResult resolve(const QString &path, QString &resolved);

} // namespace SystemPaths
