#include "decodebudget.h"

#include "availablememory.h"

#include <algorithm>

namespace {

constexpr qint64 mib = qint64(1) << 20;
constexpr qint64 least = 256 * mib;
constexpr qint64 most = 2048 * mib;

} // namespace

namespace DecodeBudget {

qint64 forAvailable(qint64 available)
{
    return std::clamp(available / 4, least, most);
}

qint64 bytes()
{
    return forAvailable(SystemMemory::available());
}

} // namespace DecodeBudget
