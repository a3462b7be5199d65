#include "clock.hpp"

#include <ctime>

namespace quelt {

double monotonic_ms() noexcept {
  timespec now{};
  if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) return -1;
  return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1000000.0;
}

void sleep_one_ms() noexcept {
  timespec wait{0, 1000000};
  nanosleep(&wait, nullptr);
}

}  // namespace quelt
