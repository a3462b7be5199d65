#include "allocator.hpp"

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <malloc.h>

namespace quelt {

namespace {

// Blocks of up to kSmallMax bytes are served from size classes of
// kGranule-byte steps. Each arena page holds blocks of one class; a page is
// never returned, and freed blocks go onto their class's free list. When the
// arena is used up, blocks come from the C library like large ones.
constexpr std::size_t kGranule = 16;
constexpr std::size_t kSmallMax = 1024;
constexpr std::size_t kClasses = kSmallMax / kGranule;  // class c holds c * kGranule bytes
constexpr std::size_t kPageSize = 16 * 1024;
constexpr std::size_t kArenaSize = 64 * 1024 * 1024;
constexpr std::size_t kPages = kArenaSize / kPageSize;
constexpr std::size_t kHugePage = 2 * 1024 * 1024;
// Per-block overhead the engine's default allocator adds to its accounting.
constexpr std::size_t kOverhead = 8;

struct FreeBlock {
  FreeBlock* next;
};

struct Arena {
  std::uintptr_t base = 0;
  std::uintptr_t next_page = 0;
  bool unavailable = false;
  FreeBlock* free_lists[kClasses + 1] = {};
  std::uintptr_t bump[kClasses + 1] = {};      // next unused block in the class's newest page
  std::uintptr_t bump_end[kClasses + 1] = {};  // end of that page
  std::uint8_t page_class[kPages] = {};
};

Arena arena;

// Reserves the arena's address space on first use, aligned to the 2 MiB of
// a huge page; pages are backed by the system only when touched. Start-up
// touches about a megabyte of small blocks, and one huge-page fault (where
// the system offers them on request) costs less than hundreds of 4 KiB ones.
bool arena_ready() noexcept {
  if (arena.base != 0) return true;
  if (arena.unavailable) return false;
  void* block = mmap(nullptr, kArenaSize + kHugePage, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (block == MAP_FAILED) {
    arena.unavailable = true;
    return false;
  }
  const auto start = reinterpret_cast<std::uintptr_t>(block);
  arena.base = (start + kHugePage - 1) & ~(kHugePage - 1);
  arena.next_page = arena.base;
  madvise(reinterpret_cast<void*>(arena.base), kArenaSize, MADV_HUGEPAGE);  // a hint; failure is harmless
  return true;
}

inline bool in_arena(const void* block) noexcept {
  return reinterpret_cast<std::uintptr_t>(block) - arena.base < kArenaSize && arena.base != 0;
}

inline std::size_t class_of(std::size_t size) noexcept {
  return size == 0 ? 1 : (size + kGranule - 1) / kGranule;
}

inline std::size_t class_in_arena(const void* block) noexcept {
  return arena.page_class[(reinterpret_cast<std::uintptr_t>(block) - arena.base) / kPageSize];
}

// A block of class `size_class`, or null when the arena is exhausted.
void* take_small(std::size_t size_class) noexcept {
  if (FreeBlock* block = arena.free_lists[size_class]) {
    arena.free_lists[size_class] = block->next;
    return block;
  }
  const std::size_t size = size_class * kGranule;
  if (arena.bump_end[size_class] - arena.bump[size_class] < size) {
    if (!arena_ready() || arena.next_page == arena.base + kArenaSize) return nullptr;
    const std::uintptr_t page = arena.next_page;
    arena.next_page += kPageSize;
    arena.page_class[(page - arena.base) / kPageSize] = static_cast<std::uint8_t>(size_class);
    arena.bump[size_class] = page;
    arena.bump_end[size_class] = page + kPageSize;
  }
  const std::uintptr_t block = arena.bump[size_class];
  arena.bump[size_class] += size;
  return reinterpret_cast<void*>(block);
}

void give_small(void* block, std::size_t size_class) noexcept {
  auto* entry = static_cast<FreeBlock*>(block);
  entry->next = arena.free_lists[size_class];
  arena.free_lists[size_class] = entry;
}

std::size_t usable_size(const void* block) noexcept {
  if (in_arena(block)) return class_in_arena(block) * kGranule;
  return malloc_usable_size(const_cast<void*>(block));
}

// A block of at least `size` bytes with its usable size, or null.
void* take(std::size_t size, std::size_t& usable) noexcept {
  if (size <= kSmallMax) {
    const std::size_t size_class = class_of(size);
    if (void* block = take_small(size_class)) {
      usable = size_class * kGranule;
      return block;
    }
  }
  void* block = std::malloc(size);
  if (block != nullptr) usable = malloc_usable_size(block);
  return block;
}

void give(void* block) noexcept {
  if (in_arena(block)) {
    give_small(block, class_in_arena(block));
  } else {
    std::free(block);
  }
}

void* engine_malloc(JSMallocState* state, std::size_t size) {
  if (state->malloc_size + size > state->malloc_limit) return nullptr;
  std::size_t usable = 0;
  void* block = take(size, usable);
  if (block == nullptr) return nullptr;
  state->malloc_count++;
  state->malloc_size += usable + kOverhead;
  return block;
}

void engine_free(JSMallocState* state, void* block) {
  if (block == nullptr) return;
  state->malloc_count--;
  state->malloc_size -= usable_size(block) + kOverhead;
  give(block);
}

void* engine_realloc(JSMallocState* state, void* block, std::size_t size) {
  if (block == nullptr) return size == 0 ? nullptr : engine_malloc(state, size);
  const std::size_t old_size = usable_size(block);
  if (size == 0) {
    state->malloc_count--;
    state->malloc_size -= old_size + kOverhead;
    give(block);
    return nullptr;
  }
  if (state->malloc_size + size - old_size > state->malloc_limit) return nullptr;
  if (!in_arena(block)) {
    void* moved = std::realloc(block, size);
    if (moved == nullptr) return nullptr;
    state->malloc_size += malloc_usable_size(moved) - old_size;
    return moved;
  }
  if (size <= old_size) return block;
  std::size_t usable = 0;
  void* moved = take(size, usable);
  if (moved == nullptr) return nullptr;
  std::memcpy(moved, block, old_size);
  give_small(block, class_in_arena(block));
  state->malloc_size += usable - old_size;
  return moved;
}

const JSMallocFunctions kFunctions = {engine_malloc, engine_free, engine_realloc, usable_size};

}  // namespace

const JSMallocFunctions& engine_malloc_functions() noexcept { return kFunctions; }

JSRuntime* new_engine_runtime() noexcept {
#if defined(__SANITIZE_ADDRESS__)
  return JS_NewRuntime();
#else
  return JS_NewRuntime2(&kFunctions, nullptr);
#endif
}

}  // namespace quelt
