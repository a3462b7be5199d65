// The engine allocator: block contents survive every kind of move, the
// accounting returns to where it started, the memory limit holds, and
// running out of arena falls back to the C library.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "allocator.hpp"
#include "quickjs.h"

namespace {

const JSMallocFunctions& functions() { return quelt::engine_malloc_functions(); }

JSMallocState unlimited_state() {
  JSMallocState state{};
  state.malloc_limit = static_cast<std::size_t>(-1);
  return state;
}

void fill(void* block, std::size_t size, std::uint8_t seed) {
  auto* bytes = static_cast<std::uint8_t*>(block);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i);
}

bool holds(const void* block, std::size_t size, std::uint8_t seed) {
  const auto* bytes = static_cast<const std::uint8_t*>(block);
  for (std::size_t i = 0; i < size; ++i) {
    if (bytes[i] != static_cast<std::uint8_t>(seed + i)) return false;
  }
  return true;
}

TEST(Allocator, ReallocKeepsContentsAcrossSizes) {
  // Within a class, into a larger class, from small to large, large to
  // larger, back to small, and shrinking in place.
  const std::size_t steps[] = {1, 16, 17, 100, 1024, 1025, 70000, 512, 24, 8};
  JSMallocState state = unlimited_state();
  void* block = functions().js_malloc(&state, steps[0]);
  ASSERT_NE(block, nullptr);
  fill(block, steps[0], 7);
  std::size_t kept = steps[0];
  for (std::size_t size : steps) {
    block = functions().js_realloc(&state, block, size);
    ASSERT_NE(block, nullptr) << size;
    const std::size_t common = kept < size ? kept : size;
    EXPECT_TRUE(holds(block, common, 7)) << "after moving to " << size << " bytes";
    EXPECT_GE(functions().js_malloc_usable_size(block), size);
    fill(block, size, 7);
    kept = size;
  }
  functions().js_free(&state, block);
  EXPECT_EQ(state.malloc_count, 0u);
  EXPECT_EQ(state.malloc_size, 0u);
}

TEST(Allocator, AccountingMatchesUsableSizes) {
  JSMallocState state = unlimited_state();
  std::vector<void*> blocks;
  std::size_t expected = 0;
  for (std::size_t size : {1u, 15u, 16u, 33u, 1000u, 1024u, 1025u, 4096u, 100000u}) {
    void* block = functions().js_malloc(&state, size);
    ASSERT_NE(block, nullptr);
    expected += functions().js_malloc_usable_size(block) + 8;
    blocks.push_back(block);
  }
  EXPECT_EQ(state.malloc_count, blocks.size());
  EXPECT_EQ(state.malloc_size, expected);
  for (void* block : blocks) functions().js_free(&state, block);
  EXPECT_EQ(state.malloc_count, 0u);
  EXPECT_EQ(state.malloc_size, 0u);
  // A freed block is handed out again for the same class.
  void* first = functions().js_malloc(&state, 40);
  functions().js_free(&state, first);
  void* second = functions().js_malloc(&state, 48);
  EXPECT_EQ(first, second);
  functions().js_free(&state, second);
}

TEST(Allocator, RefusesBeyondTheLimitAndChangesNothing) {
  JSMallocState state = unlimited_state();
  void* block = functions().js_malloc(&state, 100);
  ASSERT_NE(block, nullptr);
  state.malloc_limit = state.malloc_size + 50;
  const std::size_t count = state.malloc_count;
  const std::size_t size = state.malloc_size;
  EXPECT_EQ(functions().js_malloc(&state, 51), nullptr);
  EXPECT_EQ(functions().js_realloc(&state, block, 1000), nullptr);
  EXPECT_EQ(state.malloc_count, count);
  EXPECT_EQ(state.malloc_size, size);
  void* last = functions().js_malloc(&state, 50);
  EXPECT_NE(last, nullptr) << "exactly at the limit is allowed";
  functions().js_free(&state, last);
  functions().js_free(&state, block);
}

TEST(Allocator, FallsBackWhenTheArenaIsUsedUp) {
  // 96 MiB of 1 KiB blocks is more than the arena holds.
  JSMallocState state = unlimited_state();
  std::vector<void*> blocks;
  const std::size_t count = 96 * 1024;
  blocks.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    void* block = functions().js_malloc(&state, 1024);
    ASSERT_NE(block, nullptr) << i;
    std::memset(block, static_cast<int>(i & 0xFF), 1024);
    blocks.push_back(block);
  }
  for (std::size_t i = 0; i < count; i += 997) {
    const auto* bytes = static_cast<const std::uint8_t*>(blocks[i]);
    EXPECT_EQ(bytes[0], i & 0xFF);
    EXPECT_EQ(bytes[1023], i & 0xFF);
  }
  for (void* block : blocks) functions().js_free(&state, block);
  EXPECT_EQ(state.malloc_count, 0u);
  EXPECT_EQ(state.malloc_size, 0u);
}

TEST(Allocator, EngineRunsOutOfMemoryAtItsLimit) {
  JSRuntime* rt = quelt::new_engine_runtime();
  ASSERT_NE(rt, nullptr);
  JS_SetMemoryLimit(rt, 8 * 1024 * 1024);
  JSContext* ctx = JS_NewContext(rt);
  ASSERT_NE(ctx, nullptr);
  // At the limit the engine throws (null when even the error object no
  // longer fits); once the objects are dropped, allocation works again.
  const std::string script =
      "const kept = []; let caught = false;"
      "try { for (;;) kept.push({a: kept.length, b: 'x' + kept.length}); } catch { caught = true; }"
      "const filled = kept.length; kept.length = 0;"
      "`${caught} ${filled > 10000} ${new Array(1000).fill(0).length}`";
  JSValue result = JS_Eval(ctx, script.c_str(), script.size(), "oom.js", JS_EVAL_TYPE_GLOBAL);
  ASSERT_FALSE(JS_IsException(result));
  const char* text = JS_ToCString(ctx, result);
  EXPECT_STREQ(text, "true true 1000");
  JS_FreeCString(ctx, text);
  JS_FreeValue(ctx, result);
  JS_FreeContext(ctx);
  JS_FreeRuntime(rt);
}

}  // namespace
