#include "stack.hpp"

#include <sys/resource.h>

namespace quelt {

namespace {
// Stack used outside the engine's checks: frames below the runtime's
// creation point and native frames between two checks.
constexpr std::size_t kMargin = 1u << 20;
}  // namespace

std::size_t reserve_stack(std::size_t engine_bytes) noexcept {
  rlimit limit{};
  if (getrlimit(RLIMIT_STACK, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return engine_bytes;
  const rlim_t wanted = 2 * (engine_bytes + kMargin);
  if (limit.rlim_cur < wanted) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max == RLIM_INFINITY || limit.rlim_max >= wanted ? wanted : limit.rlim_max;
    if (setrlimit(RLIMIT_STACK, &raised) == 0) limit = raised;
  }
  if (limit.rlim_cur >= engine_bytes + kMargin) return engine_bytes;
  return limit.rlim_cur > 2 * kMargin ? limit.rlim_cur - kMargin : limit.rlim_cur / 2;
}

}  // namespace quelt
