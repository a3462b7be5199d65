#include "engine_fixture.hpp"

#include <fstream>
#include <sstream>

#include "clock.hpp"
#include "stack.hpp"

namespace quelt::test {

std::string repository_file(const std::string& path) {
  std::ifstream stream(std::string(QUELT_SOURCE_DIR) + "/" + path, std::ios::binary);
  std::ostringstream contents;
  contents << stream.rdbuf();
  return contents.str();
}

ScriptEngine::ScriptEngine(EngineOptions options, const std::string& raw, const char* request_error)
    : engine_(state_, std::move(options)) {
  state_.started = monotonic_ms();
  engine_.define_request_globals(reinterpret_cast<const std::uint8_t*>(raw.data()), raw.size(), request_error);
  engine_.define_bindings();
}

std::string describe_error(JSContext* ctx, JSValueConst error) {
  Value name(ctx, JS_GetPropertyStr(ctx, error, "name"));
  Value message(ctx, JS_GetPropertyStr(ctx, error, "message"));
  CString name_text(ctx, name.get());
  CString message_text(ctx, message.get());
  return std::string(name_text ? name_text.data() : "?") + ": " + (message_text ? message_text.data() : "?");
}

std::string ScriptEngine::eval(const std::string& source) {
  JSContext* ctx = context();
  const std::string wrapped =
      "(() => { const value = (() => {" + source +
      "})(); return JSON.stringify(value instanceof ArrayBuffer ? [...new Uint8Array(value)] : value); })()";
  Value result(ctx, JS_Eval(ctx, wrapped.c_str(), wrapped.size(), "<test>", JS_EVAL_TYPE_GLOBAL | JS_EVAL_FLAG_STRICT));
  if (result.is_exception()) {
    Value error(ctx, JS_GetException(ctx));
    return describe_error(ctx, error.get());
  }
  if (JS_IsUndefined(result.get())) return "undefined";
  CString text(ctx, result.get());
  return text ? std::string(text.data(), text.size()) : "?";
}

}  // namespace quelt::test

namespace {
// Like the executables, leave room below the engine's own stack limit.
const bool stack_reserved = (quelt::reserve_stack(quelt::kStackLimit), true);
}  // namespace
