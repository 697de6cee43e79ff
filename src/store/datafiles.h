#pragma once

#include "fileoperations.h"
#include "records.h"

#include <QByteArray>
#include <QStringList>

#include <optional>

/// The settings file DuVuzeRezo.ini and the extension list ListFile.dat: their formats, their
/// reading and writing, and the rules that move their values to and from the window's lists.
namespace DataFiles {

inline constexpr char iniFileName[] = "DuVuzeRezo.ini";
inline constexpr char listFileName[] = "ListFile.dat";

/// The records in a file's text. Every record of a settings file is read and the last one
/// kept; a record cut short leaves its missing fields empty.
IniData parseIni(const QString &text, IniData previous = {});
/// Exactly 31 fields; those a short file lacks stay empty.
ListData parseList(const QString &text);

/// The file contents: every field quoted, the record ending in CR LF.
QByteArray iniBytes(const IniData &data);
QByteArray listBytes(const ListData &data);

/// True when the program's own file is there: an ordinary, not hidden file.
bool exists(FileOperations &files, const QString &path);

/// Reads the file into `data`; false (and `data` untouched) when it cannot be read.
bool ReadIniFile(FileOperations &files, const QString &path, IniData &data);
bool ReadListFile(FileOperations &files, const QString &path, ListData &data);

/// The entries the extension box offers: the slots up to the first empty one.
QStringList GetData2(const ListData &data);
/// Copies the box's entries into the slots, up to the first empty entry or the 31st; later
/// slots keep what they held.
void SetData2(const QStringList &entries, ListData &data);
/// The register button's rule: appends a text that is not empty and not yet listed (compared
/// exactly). True when it was appended.
bool registerExtension(QStringList &entries, const QString &text);

/// Writes the settings file, then takes the box's entries into the list and writes it. Each
/// file is replaced whole; the first failure ends the save and is returned with its path.
OpResult SaveData(FileOperations &files, const QString &iniPath, const IniData &iniData,
                  const QString &listPath, ListData &listData, const QStringList &entries);

/// An index as decimal digits, "-" before it when negative ("-1" for no selection).
QString indexText(int index);
/// The digit index a settings field stands for: its numeric value rounded half to even;
/// nothing when that does not fit 16 bits or lies outside -1 to `lastIndex`.
std::optional<int> storedIndex(const QString &field, int lastIndex);

} // namespace DataFiles
