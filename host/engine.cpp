#include "engine.hpp"

#include <cstdio>
#include <utility>

#include "allocator.hpp"
#include "bindings.hpp"
#include "clock.hpp"
#include "envelope.hpp"
#include "utf8.hpp"

namespace quelt {

namespace {

int interrupt_handler(JSRuntime*, void* opaque) {
  return deadline_passed(*static_cast<HostState*>(opaque)) ? 1 : 0;
}

}  // namespace

bool deadline_passed(HostState& state) noexcept {
  const double now = monotonic_ms();
  if (!(now >= 0) || now - state.started > state.deadline_ms) {
    state.interrupted = true;
    return true;
  }
  return false;
}

const char* classify_request(const std::uint8_t* bytes, std::size_t size) noexcept {
  if (size > kTransportLimit) return "NATIVE_TRANSPORT_LIMIT";
  if (!is_valid_utf8(bytes, size)) return "NATIVE_REQUEST";
  return nullptr;
}

Engine::Engine(HostState& state, EngineOptions options) : state_(state), options_(std::move(options)) {
  runtime_.reset(new_engine_runtime());
  if (!runtime_) return;
  JSRuntime* rt = runtime_.get();
  JS_SetRuntimeOpaque(rt, &state_);
  JS_SetMemoryLimit(rt, kMemoryLimit);
  JS_SetGCThreshold(rt, kInitialGcThreshold);
  JS_SetMaxStackSize(rt, options_.stack_limit);
  JS_SetCanBlock(rt, 0);
  JS_SetInterruptHandler(rt, interrupt_handler, &state_);
  JS_SetModuleLoaderFunc(rt, nullptr, options_.module_loader, options_.loader_opaque);
  context_.reset(JS_NewContext(rt));
  if (!context_) {
    runtime_.reset();
    return;
  }
  global_ = Value(context_.get(), JS_GetGlobalObject(context_.get()));
  flush_timers_ = Atom(context_.get(), "__queltFlushTimers");
  if (flush_timers_.get() == JS_ATOM_NULL || JS_IsException(global_.get())) {
    global_.reset();
    context_.reset();
    runtime_.reset();
  }
}

namespace {
JSValue teardown_anchor(JSContext*, JSValueConst, int, JSValueConst*) { return JS_UNDEFINED; }
}  // namespace

// When the entry module is torn down while its evaluation is still pending
// (deadline, failed job), the engine frees the context, and with it the
// module records, while collecting the remaining cycles, at the moment the
// last object that holds the context is freed; callbacks of the pending
// module evaluation that are freed after that point would touch the freed
// module records. The engine frees a cycle in the order the objects were
// created, so one native function made now, reachable only from the global
// object, keeps the context alive until everything else is gone.
Engine::~Engine() {
  if (!context_) return;
  JSContext* ctx = context_.get();
  // No script runs any more: the anchor must not fail on the memory limit.
  JS_SetMemoryLimit(runtime_.get(), static_cast<std::size_t>(-1));
  JSValue anchor = JS_NewCFunction2(ctx, teardown_anchor, "", 0, JS_CFUNC_generic, 0);
  if (JS_IsException(anchor)) {
    JS_FreeValue(ctx, JS_GetException(ctx));
    return;
  }
  if (JS_DefinePropertyValueStr(ctx, global_.get(), "\x01teardown", anchor, 0) < 0) {
    JS_FreeValue(ctx, JS_GetException(ctx));
  }
}

void Engine::drop_exception() {
  JSContext* ctx = context_.get();
  Value error(ctx, JS_GetException(ctx));
  if (options_.report_exception) options_.report_exception(ctx, error.get());
}

bool Engine::define_request_globals(const std::uint8_t* raw, std::size_t size, const char* request_error) {
  JSContext* ctx = context_.get();
  JSValue text = JS_NewStringLen(ctx, reinterpret_cast<const char*>(raw), size);
  if (JS_IsException(text) || JS_SetPropertyStr(ctx, global_.get(), "__queltRaw", text) < 0) return false;
  JSValue error = request_error == nullptr ? JS_NULL : JS_NewString(ctx, request_error);
  if (JS_IsException(error)) return false;
  return JS_SetPropertyStr(ctx, global_.get(), "__queltRequestError", error) >= 0;
}

bool Engine::define_bindings() { return define_native_functions(context_.get(), global_.get()); }

bool Engine::evaluate_shims(const Unit& unit) {
  JSContext* ctx = context_.get();
  JSValue result;
  if (unit.kind == Unit::Kind::Bytecode) {
    JSValue function = JS_ReadObject(ctx, unit.data, unit.size, JS_READ_OBJ_BYTECODE);
    if (JS_IsException(function)) return false;
    result = JS_EvalFunction(ctx, function);
  } else {
    result = JS_Eval(ctx, reinterpret_cast<const char*>(unit.data), unit.size, unit.name,
                     JS_EVAL_TYPE_GLOBAL | JS_EVAL_FLAG_STRICT);
  }
  shims_result_ = Value(ctx, result);
  return !shims_result_.is_exception();
}

bool Engine::start_entry(const Unit& unit) {
  JSContext* ctx = context_.get();
  JSValue module;
  if (unit.kind == Unit::Kind::Bytecode) {
    module = JS_ReadObject(ctx, unit.data, unit.size, JS_READ_OBJ_BYTECODE);
  } else {
    module = JS_Eval(ctx, reinterpret_cast<const char*>(unit.data), unit.size, unit.name,
                     JS_EVAL_TYPE_MODULE | JS_EVAL_FLAG_COMPILE_ONLY);
  }
  if (JS_IsException(module)) return false;
  if (JS_ResolveModule(ctx, module) < 0) {
    JS_FreeValue(ctx, module);
    return false;
  }
  promise_ = Value(ctx, JS_EvalFunction(ctx, module));
  if (promise_.is_exception()) return false;
  return !deadline_passed(state_);
}

bool Engine::run_job_loop(bool require_response) {
  JSContext* ctx = context_.get();
  JSRuntime* rt = runtime_.get();
  for (;;) {
    {
      Value flush(ctx, JS_GetProperty(ctx, global_.get(), flush_timers_.get()));
      if (flush.is_exception()) return false;
      Value result(ctx, JS_Call(ctx, flush.get(), global_.get(), 0, nullptr));
      if (result.is_exception()) return false;
    }
    const JSPromiseStateEnum settled = JS_PromiseState(ctx, promise_.get());
    if (settled == JS_PROMISE_FULFILLED && !JS_IsJobPending(rt)) {
      return !require_response || state_.candidate != nullptr;
    }
    if (settled == JS_PROMISE_REJECTED) {
      Value reason(ctx, JS_PromiseResult(ctx, promise_.get()));
      if (options_.report_exception) options_.report_exception(ctx, reason.get());
      return false;
    }
    if (settled != JS_PROMISE_PENDING && settled != JS_PROMISE_FULFILLED) return false;
    JSContext* job_context = nullptr;
    const int ran = JS_ExecutePendingJob(rt, &job_context);
    if (ran < 0) return false;
    if (ran == 0) sleep_one_ms();
    if (deadline_passed(state_)) return false;
  }
}

Outcome run_engine(HostState& state, HeapBytes& request, std::size_t request_size, const char* request_error,
                   const EngineOptions& options, const Unit& shims, const Unit& entry) {
  state.started = monotonic_ms();
  if (!(state.started >= 0)) {
    request.reset();
    return Outcome::HostFailure;
  }
  bool succeeded = false;
  {
    Engine engine(state, options);
    if (!engine.ok()) {
      request.reset();
      return Outcome::HostFailure;
    }
    static const std::uint8_t empty = 0;
    const std::uint8_t* raw = request_error != nullptr || !request ? &empty : request.get();
    const std::size_t raw_size = request_error != nullptr ? 0 : request_size;
    bool ready = engine.define_request_globals(raw, raw_size, request_error);
    request.reset();
    ready = ready && engine.define_bindings() && engine.evaluate_shims(shims) && engine.start_entry(entry);
    succeeded = ready && engine.run_job_loop();
    if (JS_HasException(engine.context())) engine.drop_exception();
  }
  if (succeeded) return Outcome::Response;
  state.candidate.reset();
  state.candidate_size = 0;
  return state.interrupted ? Outcome::Timeout : Outcome::HostFailure;
}

int write_outcome(std::FILE* stream, HostState& state, Outcome outcome) {
  int status;
  if (outcome == Outcome::Response) {
    status = write_all(stream, state.candidate.get(), state.candidate_size) ? 0 : 1;
  } else {
    status = write_envelope(stream, outcome == Outcome::Timeout ? "NATIVE_TIMEOUT" : "NATIVE_HOST_FAILURE", "host");
  }
  state.candidate.reset();
  state.candidate_size = 0;
  return status;
}

}  // namespace quelt
