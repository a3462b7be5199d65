// Helpers for host tests: an engine built like the product's, and
// evaluation of small scripts with a readable description of the outcome.
#pragma once

#include <string>

#include "engine.hpp"
#include "js_handles.hpp"

namespace quelt::test {

// Reads a file of the repository (path relative to its root).
std::string repository_file(const std::string& path);

// A runtime and context with the product's limits, request globals and
// native bindings (no shims unless asked).
class ScriptEngine {
 public:
  explicit ScriptEngine(EngineOptions options = {}, const std::string& raw = "", const char* request_error = nullptr);
  JSContext* context() const { return engine_.context(); }
  Engine& engine() { return engine_; }
  HostState& state() { return state_; }

  // Evaluates `source` as a strict global script. Returns JSON.stringify of
  // the completion value (ArrayBuffers as arrays of bytes), or
  // "<ErrorName>: <message>" when it throws.
  std::string eval(const std::string& source);

 private:
  HostState state_;
  Engine engine_;
};

// Describes a thrown value as "<name>: <message>".
std::string describe_error(JSContext* ctx, JSValueConst error);

}  // namespace quelt::test
