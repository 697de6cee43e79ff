#pragma once

#include <QString>

#include <array>

/// The settings record: source drive, source folder, target drive, target folder, base name,
/// start number, extension index, digit index.
using IniData = std::array<QString, 8>;

/// The registered extensions; the first empty slot ends the list.
using ListData = std::array<QString, 31>;

namespace IniField {
enum : int
{
    SourceDrive = 0,
    SourceFolder,
    TargetDrive,
    TargetFolder,
    BaseName,
    StartNumber,
    ExtensionIndex,
    DigitIndex
};
}
