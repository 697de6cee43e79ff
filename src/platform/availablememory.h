#pragma once

#include <QtGlobal>

namespace SystemMemory {

/// Bytes this process can take now: the system's available memory, within the headroom of every
/// memory-limited control group the process belongs to. 0 when nothing can be read.
qint64 available();

} // namespace SystemMemory
