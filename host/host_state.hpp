// The process-wide state of one run: deadline origin, the interrupt flag and
// the retained response line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace quelt {

inline constexpr std::size_t kTransportLimit = 16777216;          // 16 MiB
inline constexpr std::size_t kRequestBufferSize = kTransportLimit + 2;
inline constexpr std::size_t kMemoryLimit = 268435456;            // 256 MiB
inline constexpr std::size_t kStackLimit = 8388608;               // 8 MiB
inline constexpr double kDeadlineMs = 20000;
// The engine's first collection runs once this many bytes are allocated
// (then at 1.5 times what survives). Loading every unit stays far below it, so
// start-up runs no collection whose work the teardown would repeat, and a run
// on large inputs skips the early collections, which would find almost
// nothing: values form no cycles, and what is not a cycle is freed at once.
inline constexpr std::size_t kInitialGcThreshold = 33554432;  // 32 MiB

struct FreeDeleter {
  void operator()(void* block) const noexcept { std::free(block); }
};
using HeapBytes = std::unique_ptr<std::uint8_t[], FreeDeleter>;

struct HostState {
  double started = -1;            // monotonic ms when the request was read
  double deadline_ms = kDeadlineMs;
  bool interrupted = false;       // set once the deadline check has fired
  HeapBytes candidate;            // the retained response line
  std::size_t candidate_size = 0;
};

// The deadline check: true (and `interrupted` set) when the clock cannot be
// read or more than `deadline_ms` have passed since `started`.
bool deadline_passed(HostState& state) noexcept;

}  // namespace quelt
