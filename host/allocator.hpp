// The engine's memory allocator: small blocks come from size-class free lists
// in one reserved arena, everything else from the C library. Start-up and
// teardown allocate and free tens of thousands of small engine objects, and
// the C library's general-purpose allocator spent about a quarter of all
// start-up instructions on them.
//
// The functions keep the engine's accounting exactly like its default
// allocator (count, size including a fixed per-block overhead, and the
// memory limit tested before every allocation). Single-threaded, like the
// rest of the host; the arena is shared by every runtime of the process.
#pragma once

#include "quickjs.h"

namespace quelt {

// Allocation functions for JS_NewRuntime2.
const JSMallocFunctions& engine_malloc_functions() noexcept;

// A new runtime on the engine allocator (or on the engine's default
// allocator in sanitizer builds, so that the sanitizer sees every block).
JSRuntime* new_engine_runtime() noexcept;

}  // namespace quelt
