#pragma once

#include "fileoperations.h"

#include <QByteArray>
#include <QString>

namespace HelpText {

/// The help text of a file's bytes: every line followed by CR LF. A line ends at CR LF or at a
/// CR alone; a LF alone stays in the line; a last line without a line end counts like any other.
QString fromBytes(const QByteArray &bytes);

/// Reads Readme.txt from the program folder. When it cannot be read, the text says so, naming
/// the file and the reason.
QString load(FileOperations &files, const QString &programFolder);

} // namespace HelpText
