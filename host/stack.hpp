// Makes sure the thread's stack can hold the engine's own stack limit.
#pragma once

#include <cstddef>

namespace quelt {

// Raises the soft stack limit of the process to at least `bytes` when the
// hard limit allows it, so that the engine's stack-overflow check fires
// before the operating system's guard page does.
void reserve_stack(std::size_t bytes) noexcept;

}  // namespace quelt
