#include "bindings.hpp"

// The direct SHA-256 functions: the one-shot SHA256() and EVP go through
// OpenSSL's provider machinery, which reads the OpenSSL configuration file
// and environment on first use and can fail; these cannot.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "clock.hpp"
#include "host_state.hpp"
#include "js_handles.hpp"
#include "utf8.hpp"

namespace quelt {

namespace {

HostState& state_of(JSContext* ctx) {
  return *static_cast<HostState*>(JS_GetRuntimeOpaque(JS_GetRuntime(ctx)));
}

// True when the pending exception is the engine's detached-buffer error;
// the exception is consumed in that case and left pending otherwise.
bool take_detached_error(JSContext* ctx) {
  Value error(ctx, JS_GetException(ctx));
  bool detached = false;
  if (JS_IsError(ctx, error.get())) {
    Value message(ctx, JS_GetPropertyStr(ctx, error.get(), "message"));
    CString text(ctx, message.get());
    detached = text && std::strcmp(text.data(), "ArrayBuffer is detached") == 0;
    if (!text) JS_FreeValue(ctx, JS_GetException(ctx));
  }
  if (!detached) JS_Throw(ctx, error.release());
  return detached;
}

}  // namespace

JSValue native_utf8(JSContext* ctx, JSValueConst, int argc, JSValueConst* argv) {
  if (argc != 1 || !JS_IsString(argv[0])) return JS_ThrowTypeError(ctx, "%s", "UTF8 input");
  CString text(ctx, argv[0]);
  if (!text) return JS_EXCEPTION;
  if (text.size() > kTransportLimit) return JS_ThrowRangeError(ctx, "%s", "UTF8 limit");
  return JS_NewArrayBufferCopy(ctx, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

JSValue native_sha256(JSContext* ctx, JSValueConst, int argc, JSValueConst* argv) {
  if (argc != 1) return JS_ThrowTypeError(ctx, "%s", "SHA256 input");
  std::size_t offset = 0;
  std::size_t length = 0;
  std::size_t element_size = 0;
  Value buffer(ctx, JS_GetTypedArrayBuffer(ctx, argv[0], &offset, &length, &element_size));
  if (buffer.is_exception()) {
    // Not a typed array: the accessor's own error goes out unchanged.
    if (!take_detached_error(ctx)) return JS_EXCEPTION;
    return JS_ThrowTypeError(ctx, "%s", "SHA256 buffer");
  }
  if (element_size != 1) return JS_ThrowTypeError(ctx, "%s", "SHA256 buffer");
  std::size_t buffer_size = 0;
  const std::uint8_t* data = JS_GetArrayBuffer(ctx, &buffer_size, buffer.get());
  if (data == nullptr && buffer_size != 0) return JS_ThrowTypeError(ctx, "%s", "SHA256 buffer");
  if (data == nullptr && JS_HasException(ctx)) {
    JS_FreeValue(ctx, JS_GetException(ctx));
    return JS_ThrowTypeError(ctx, "%s", "SHA256 buffer");
  }
  if (offset > buffer_size || length > buffer_size - offset || length > kTransportLimit) {
    return JS_ThrowTypeError(ctx, "%s", "SHA256 buffer");
  }
  std::uint8_t digest[SHA256_DIGEST_LENGTH];
  SHA256_CTX hashing;
  if (SHA256_Init(&hashing) != 1 || (length > 0 && SHA256_Update(&hashing, data + offset, length) != 1) ||
      SHA256_Final(digest, &hashing) != 1) {
    return JS_ThrowInternalError(ctx, "%s", "SHA256");
  }
  return JS_NewArrayBufferCopy(ctx, digest, sizeof digest);
}

JSValue native_monotonic(JSContext* ctx, JSValueConst, int, JSValueConst*) {
  const double now = monotonic_ms();
  if (!(now >= 0)) return JS_ThrowInternalError(ctx, "%s", "Clock");
  if (now <= std::numeric_limits<std::int32_t>::max() && std::floor(now) == now) {
    return JS_NewInt32(ctx, static_cast<std::int32_t>(now));
  }
  return JS_NewFloat64(ctx, now);
}

JSValue native_emit(JSContext* ctx, JSValueConst, int argc, JSValueConst* argv) {
  HostState& state = state_of(ctx);
  if (argc != 1 || !JS_IsString(argv[0]) || state.candidate) {
    return JS_ThrowTypeError(ctx, "%s", "One response");
  }
  CString line(ctx, argv[0]);
  if (!line) return JS_EXCEPTION;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(line.data());
  const std::size_t size = line.size();
  if (size < 1 || size > kTransportLimit || bytes[size - 1] != '\n' || !is_valid_utf8(bytes, size)) {
    return JS_ThrowRangeError(ctx, "%s", "Response limit");
  }
  HeapBytes copy(static_cast<std::uint8_t*>(std::malloc(size)));
  if (!copy) return JS_ThrowOutOfMemory(ctx);
  std::memcpy(copy.get(), bytes, size);
  state.candidate = std::move(copy);
  state.candidate_size = size;
  return JS_UNDEFINED;
}

bool define_native_functions(JSContext* ctx, JSValueConst global) {
  struct Binding {
    const char* name;
    JSCFunction* function;
    int length;
  };
  static const Binding bindings[] = {
      {"__queltUtf8", native_utf8, 1},
      {"__queltSha256", native_sha256, 1},
      {"__queltMonotonic", native_monotonic, 0},
      {"__queltEmit", native_emit, 1},
  };
  for (const Binding& binding : bindings) {
    JSValue function = JS_NewCFunction2(ctx, binding.function, binding.name, binding.length, JS_CFUNC_generic, 0);
    if (JS_IsException(function)) return false;
    if (JS_SetPropertyStr(ctx, global, binding.name, function) < 0) return false;
  }
  return true;
}

}  // namespace quelt
