#pragma once

#include "fileoperations.h"

#include <QByteArray>
#include <QString>

namespace HelpText {

/// The help text of a file's bytes: every line followed by CR LF. A line ends at CR LF or at a
/// CR alone; a LF alone stays in the line; a last line without a line end counts like any other.
QString fromBytes(const QByteArray &bytes);

/// The most of Readme.txt that is read: far beyond any help text, short of what would hold the
/// window up.
inline constexpr qint64 maxBytes = qint64(4) << 20;

/// The line that ends the text of a Readme.txt longer than maxBytes.
QString cutShortNote();

/// Reads Readme.txt from the program folder, at most maxBytes of it; a longer file is shown up
/// to the last line end within them, followed by cutShortNote(). When it cannot be read, the
/// text says so, naming the file and the reason.
QString load(FileOperations &files, const QString &programFolder);

} // namespace HelpText
