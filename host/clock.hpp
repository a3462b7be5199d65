// The monotonic millisecond clock used for the deadline and by scripts.
#pragma once

namespace quelt {

// Milliseconds with a fractional part from CLOCK_MONOTONIC; -1 when the
// clock cannot be read.
double monotonic_ms() noexcept;

// Sleeps one millisecond (the job loop's idle wait).
void sleep_one_ms() noexcept;

}  // namespace quelt
