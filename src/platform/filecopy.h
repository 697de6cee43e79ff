#pragma once

// Copying a file's bytes, shared by the batch's copies and the trash's.

#include <sys/stat.h>

namespace SystemCalls {

/// Writes the whole of `in` (whose status is `st`) into the new, empty file `out`, as `cp -a`
/// does: the content with its holes, the permission bits, the `user.*` extended attributes and
/// the POSIX ACL, and the times to the nanosecond; synced when asked. The bytes move by reflink,
/// then copy_file_range, then plain reads and writes where the kernel refuses the faster ways;
/// long copies call the busy handler in between. A target drive that cannot hold attributes
/// takes the copy without them. Neither descriptor's offset matters. `written`, when given,
/// receives the copy's status as it stands afterwards (identity, size, mode and times).
/// Returns 0 or the errno of the failure.
int fillCopy(int in, const struct stat &st, int out, bool sync, struct stat *written = nullptr);

} // namespace SystemCalls
