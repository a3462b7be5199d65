#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine_fixture.hpp"

namespace {

using quelt::test::ScriptEngine;

struct ScriptCase {
  const char* script;
  const char* expected;
};

void expect_cases(ScriptEngine& engine, const std::vector<ScriptCase>& cases) {
  for (const ScriptCase& c : cases) {
    EXPECT_EQ(engine.eval(c.script), c.expected) << c.script;
  }
}

JSValue detach(JSContext* ctx, JSValueConst, int, JSValueConst* argv) {
  JS_DetachArrayBuffer(ctx, argv[0]);
  return JS_UNDEFINED;
}

TEST(Bindings, GlobalsInOrderAsPlainDataProperties) {
  ScriptEngine engine({}, "{\"a\":1}", nullptr);
  expect_cases(engine, {
      {"return Object.keys(globalThis).filter((k) => k.startsWith('__quelt'))",
       R"(["__queltRaw","__queltRequestError","__queltUtf8","__queltSha256","__queltMonotonic","__queltEmit"])"},
      {"const d = Object.getOwnPropertyDescriptor(globalThis, '__queltEmit'); return [d.writable, d.enumerable, d.configurable]",
       "[true,true,true]"},
      {"return [__queltUtf8.length, __queltSha256.length, __queltMonotonic.length, __queltEmit.length]", "[1,1,0,1]"},
      {"return [__queltRaw, __queltRequestError]", R"(["{\"a\":1}",null])"},
      {"return typeof console", "\"undefined\""},
  });
}

TEST(Bindings, RequestGlobalsKeepNulBytesAndCarryRefusals) {
  ScriptEngine with_nul({}, std::string("a\0b", 3), nullptr);
  EXPECT_EQ(with_nul.eval("return [__queltRaw.length, __queltRaw.charCodeAt(1)]"), "[3,0]");
  ScriptEngine refused({}, "", "NATIVE_TRANSPORT_LIMIT");
  EXPECT_EQ(refused.eval("return [__queltRaw, __queltRequestError]"), R"(["","NATIVE_TRANSPORT_LIMIT"])");
}

TEST(Bindings, Utf8EncodesStringsOnly) {
  ScriptEngine engine;
  expect_cases(engine, {
      {"return __queltUtf8('')", "[]"},
      {"return __queltUtf8('a\\u0000')", "[97,0]"},
      {"return __queltUtf8('\\u00e9\\u20ac')", "[195,169,226,130,172]"},
      {"return __queltUtf8('\\ud83d\\ude00')", "[240,159,152,128]"},
      {"return __queltUtf8('\\ud800x')", "[237,160,128,120]"},
      {"return __queltUtf8('\\ude00')", "[237,184,128]"},
      {"return __queltUtf8('a') instanceof ArrayBuffer", "true"},
      {"return __queltUtf8()", "TypeError: UTF8 input"},
      {"return __queltUtf8('a', 'b')", "TypeError: UTF8 input"},
      {"return __queltUtf8(1)", "TypeError: UTF8 input"},
      {"return __queltUtf8(new String('a'))", "TypeError: UTF8 input"},
      {"return __queltUtf8({ toString() { return 'a'; } })", "TypeError: UTF8 input"},
      {"return __queltUtf8('a'.repeat(16777216)).byteLength", "16777216"},
      {"return __queltUtf8('a'.repeat(16777217))", "RangeError: UTF8 limit"},
      {"return __queltUtf8('\\u00e9'.repeat(8388608) + 'a')", "RangeError: UTF8 limit"},
  });
}

TEST(Bindings, Sha256HashesOneByteViews) {
  ScriptEngine engine;
  JSContext* ctx = engine.context();
  quelt::Value global(ctx, JS_GetGlobalObject(ctx));
  JS_SetPropertyStr(ctx, global.get(), "detach", JS_NewCFunction(ctx, detach, "detach", 1));
  const std::string hex = "const hex = (b) => [...new Uint8Array(b)].map((x) => x.toString(16).padStart(2, '0')).join('');";
  expect_cases(engine, {
      {(hex + "return hex(__queltSha256(new Uint8Array(0)))").c_str(),
       "\"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855\""},
      {(hex + "return hex(__queltSha256(new Uint8Array([97, 98, 99])))").c_str(),
       "\"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\""},
      // Only the viewed bytes count.
      {(hex + "return hex(__queltSha256(new Uint8Array([0, 97, 98, 99, 0]).subarray(1, 4)))").c_str(),
       "\"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\""},
      {(hex + "return hex(__queltSha256(new Int8Array([97, 98, 99])))").c_str(),
       "\"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\""},
      {"return __queltSha256(new Uint8Array(1)).byteLength", "32"},
      {"return __queltSha256(new Uint8Array(16777216)).byteLength", "32"},
      {"return __queltSha256()", "TypeError: SHA256 input"},
      {"return __queltSha256(new Uint8Array(1), 1)", "TypeError: SHA256 input"},
      {"return __queltSha256(new Uint16Array(2))", "TypeError: SHA256 buffer"},
      {"return __queltSha256(new Float64Array(1))", "TypeError: SHA256 buffer"},
      {"return __queltSha256(new Uint8Array(16777217))", "TypeError: SHA256 buffer"},
      {"const a = new Uint8Array(4); detach(a.buffer); return __queltSha256(a)", "TypeError: SHA256 buffer"},
      // Not a typed array: the engine's own accessor error.
      {"return __queltSha256([1, 2])", "TypeError: not a TypedArray"},
      {"return __queltSha256(new ArrayBuffer(2))", "TypeError: not a TypedArray"},
      {"return __queltSha256(new DataView(new ArrayBuffer(2)))", "TypeError: not a TypedArray"},
      {"return __queltSha256('abc')", "TypeError: not a TypedArray"},
  });
}

TEST(Bindings, MonotonicIsANonDecreasingMillisecondClock) {
  ScriptEngine engine;
  expect_cases(engine, {
      {"const a = __queltMonotonic(); let ok = true; let last = a;"
       "for (let i = 0; i < 10000; i++) { const t = __queltMonotonic('ignored'); if (t < last) ok = false; last = t; }"
       "return [typeof a, a >= 0, ok]",
       "[\"number\",true,true]"},
      {"const a = __queltMonotonic(); const end = a + 5; while (__queltMonotonic() < end) {} return __queltMonotonic() - a >= 5",
       "true"},
  });
}

TEST(Bindings, EmitRetainsExactlyOneValidLine) {
  ScriptEngine engine;
  expect_cases(engine, {
      {"return __queltEmit()", "TypeError: One response"},
      {"return __queltEmit('a\\n', 'b')", "TypeError: One response"},
      {"return __queltEmit(1)", "TypeError: One response"},
      {"return __queltEmit('')", "RangeError: Response limit"},
      {"return __queltEmit('x')", "RangeError: Response limit"},
      {"return __queltEmit('x\\n\\n'.slice(0, 2) + 'y')", "RangeError: Response limit"},
      {"return __queltEmit('\\ud800\\n')", "RangeError: Response limit"},
      {"return __queltEmit('a'.repeat(16777216) + '\\n')", "RangeError: Response limit"},
  });
  EXPECT_EQ(engine.state().candidate, nullptr);
  // A refused call retains nothing, so the same character with its line
  // feed is accepted afterwards; every later call is refused.
  EXPECT_EQ(engine.eval("return __queltEmit('x\\n')"), "undefined");
  EXPECT_EQ(engine.eval("return __queltEmit('y\\n')"), "TypeError: One response");
  EXPECT_EQ(engine.eval("return __queltEmit('')"), "TypeError: One response");
  ASSERT_NE(engine.state().candidate, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(engine.state().candidate.get()), engine.state().candidate_size),
            "x\n");
}

TEST(Bindings, EmitAcceptsTheLargestLineAndNonAscii) {
  ScriptEngine largest;
  EXPECT_EQ(largest.eval("return __queltEmit('a'.repeat(16777215) + '\\n')"), "undefined");
  EXPECT_EQ(largest.state().candidate_size, 16777216u);
  ScriptEngine non_ascii;
  EXPECT_EQ(non_ascii.eval("return __queltEmit('\\u00e9\\ud83d\\ude00\\u0000\\n')"), "undefined");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(non_ascii.state().candidate.get()),
                        non_ascii.state().candidate_size),
            std::string("\xC3\xA9\xF0\x9F\x98\x80\0\n", 8));
}

}  // namespace
