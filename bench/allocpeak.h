#pragma once

#include <cstddef>

/// Heap bytes in use, counted by this program's own malloc wrappers (the kernel's resident-set
/// figures are not reliable on every machine).
namespace AllocPeak {
size_t current();
/// Starts a new peak from what is in use now.
void reset();
size_t peak();
} // namespace AllocPeak
