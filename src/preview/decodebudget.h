#pragma once

#include <QtGlobal>

/// How much memory the preview may spend on decoding one picture at full size, for the formats
/// that cannot decode at a reduced size. Decided here and nowhere else.
namespace DecodeBudget {

/// The budget for `available` bytes of available memory: a quarter of it, at least 256 MiB (twice
/// the 128 MiB Qt 6.4 allows one picture by default), at most 2 GiB. 0 (unknown) gives the least.
qint64 forAvailable(qint64 available);

/// The budget on this machine now (SystemMemory::available()).
qint64 bytes();

} // namespace DecodeBudget
