#include "stack.hpp"

#include <sys/resource.h>

namespace quelt {

void reserve_stack(std::size_t bytes) noexcept {
  rlimit limit{};
  if (getrlimit(RLIMIT_STACK, &limit) != 0) return;
  if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= bytes) return;
  const rlim_t wanted = limit.rlim_max == RLIM_INFINITY || limit.rlim_max >= bytes ? bytes : limit.rlim_max;
  limit.rlim_cur = wanted;
  setrlimit(RLIMIT_STACK, &limit);
}

}  // namespace quelt
