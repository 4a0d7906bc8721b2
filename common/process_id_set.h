// The process id set shared by the tracker and its tests: an ordered set of
// signed 32-bit process ids without duplicates, iterated in ascending order.
#pragma once

#include <cstdint>
#include <set>

namespace common {

// insert (no effect when present), find, erase of one id, size, clear and
// ascending iteration are all the tracker uses.
using ProcessIdSet = std::set<std::int32_t>;

}  // namespace common
