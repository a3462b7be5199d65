// Makes sure the thread's stack can hold the engine's own stack limit.
#pragma once

#include <cstddef>

namespace quelt {

// Raises the soft stack limit of the process so that `engine_bytes` of
// engine stack fit with room to spare, when the hard limit allows it.
// Returns the engine stack limit to use: `engine_bytes`, or less when the
// process stack cannot be made large enough, so that the engine's own
// stack-overflow check always fires before the operating system's guard
// page would.
std::size_t reserve_stack(std::size_t engine_bytes) noexcept;

}  // namespace quelt
