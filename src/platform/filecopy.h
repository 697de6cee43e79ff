#pragma once

// Copying a file's bytes, shared by the batch's copies and the trash's.

#include <sys/stat.h>

namespace SystemCalls {

/// Moves the bytes of `in` into the empty file `out`: reflink, then copy_file_range,
/// then plain reads and writes where the kernel refuses the faster ways. Long copies call the
/// busy handler in between. False with errno set on failure.
bool copyData(int in, int out, off_t size);

/// Writes the whole of `in` (whose status is `st`) into the empty file `out` with its times and
/// permission bits, synced when asked. Returns 0 or the errno of the failure.
int fillCopy(int in, const struct stat &st, int out, bool sync);

} // namespace SystemCalls
