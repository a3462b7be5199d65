// Engine set-up and the job loop, shared by the product executable and the
// test host. The module loader and the source of each unit are parameters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "host_state.hpp"
#include "js_handles.hpp"
#include "quickjs.h"

namespace quelt {

// One script unit: precompiled bytecode or source text.
struct Unit {
  enum class Kind { Bytecode, Source };
  Kind kind = Kind::Bytecode;
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;  // for source text, data[size] must be 0
  const char* name = "";

  static Unit bytecode(const std::uint8_t* data, std::size_t size, const char* name) {
    return {Kind::Bytecode, data, size, name};
  }
  static Unit source(const std::string& text, const char* name) {
    return {Kind::Source, reinterpret_cast<const std::uint8_t*>(text.c_str()), text.size(), name};
  }
};

// Called with each exception that ends a phase (the test host prints them;
// the product ignores them).
using ExceptionReporter = std::function<void(JSContext*, JSValueConst)>;

struct EngineOptions {
  JSModuleLoaderFunc* module_loader = nullptr;
  void* loader_opaque = nullptr;
  ExceptionReporter report_exception;
  // The engine's maximum stack size; below kStackLimit only when the
  // process stack cannot hold that much (see reserve_stack).
  std::size_t stack_limit = kStackLimit;
};

// Classifies the bytes read from standard input: nullptr when accepted,
// else "NATIVE_TRANSPORT_LIMIT" (more than 16 MiB) or "NATIVE_REQUEST"
// (not UTF-8).
const char* classify_request(const std::uint8_t* bytes, std::size_t size) noexcept;

// One runtime with the fixed limits and one context. Members are declared
// so that they are released in the teardown order: promise, shims result,
// global object, context, runtime.
class Engine {
 public:
  Engine(HostState& state, EngineOptions options);
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;
  ~Engine();

  bool ok() const noexcept { return context_ != nullptr; }
  JSContext* context() const noexcept { return context_.get(); }
  JSRuntime* runtime() const noexcept { return runtime_.get(); }
  JSValueConst global() const noexcept { return global_.get(); }

  // __queltRaw (exactly `size` bytes decoded from UTF-8) and
  // __queltRequestError (null or the code).
  bool define_request_globals(const std::uint8_t* raw, std::size_t size, const char* request_error);
  // The four native functions, after the request globals.
  bool define_bindings();
  // Evaluates the shims as a strict global script.
  bool evaluate_shims(const Unit& unit);
  // Reads, resolves and evaluates the entry module; then runs the deadline
  // check once.
  bool start_entry(const Unit& unit);
  // Pumps timers and jobs until the entry settles. True when it was
  // fulfilled with no job left and a response has been retained; with
  // `require_response` false, a fulfilled settle is enough.
  bool run_job_loop(bool require_response = true);

  // Reports (through the options) and clears the pending exception.
  void drop_exception();

 private:
  HostState& state_;
  EngineOptions options_;
  RuntimePtr runtime_;
  ContextPtr context_;
  Atom flush_timers_;  // the name __queltFlushTimers, looked up every iteration
  Value global_;
  Value shims_result_;
  Value promise_;
};

enum class Outcome { Response, HostFailure, Timeout };

// Steps from the clock reading to teardown: takes `started`, builds the
// engine, defines the globals (releasing `request` right after the request
// globals), evaluates the shims and the entry, runs the job loop and tears
// the engine down. `request` may be null when `request_size` is 0.
Outcome run_engine(HostState& state, HeapBytes& request, std::size_t request_size,
                   const char* request_error, const EngineOptions& options, const Unit& shims,
                   const Unit& entry);

// Writes the retained response (Outcome::Response) or the envelope for the
// outcome; returns the exit status. Frees the retained response.
int write_outcome(std::FILE* stream, HostState& state, Outcome outcome);

}  // namespace quelt
