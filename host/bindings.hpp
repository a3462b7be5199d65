// The four native functions published to scripts.
#pragma once

#include "quickjs.h"

namespace quelt {

// The bindings find the run's HostState through the runtime's opaque
// pointer (JS_SetRuntimeOpaque).
JSValue native_utf8(JSContext* ctx, JSValueConst this_value, int argc, JSValueConst* argv);
JSValue native_sha256(JSContext* ctx, JSValueConst this_value, int argc, JSValueConst* argv);
JSValue native_monotonic(JSContext* ctx, JSValueConst this_value, int argc, JSValueConst* argv);
JSValue native_emit(JSContext* ctx, JSValueConst this_value, int argc, JSValueConst* argv);

// Defines __queltUtf8, __queltSha256, __queltMonotonic, __queltEmit in that
// order on `global`. False (with a pending exception) on failure.
bool define_native_functions(JSContext* ctx, JSValueConst global);

}  // namespace quelt
