// In-process figures for the host, each beside its baseline in the same
// run: the job loop (one __queltFlushTimers call per job) against a bare
// loop over the same engine jobs, and the engine set-up against a bare
// runtime and context.
#include <benchmark/benchmark.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "clock.hpp"
#include "engine.hpp"
#include "js_handles.hpp"
#include "registry.hpp"

namespace {

const quelt::ModuleTable kNoModules{nullptr, 0};

std::string shims_source() {
  std::ifstream stream(std::string(QUELT_SOURCE_DIR) + "/quelt/native-shims.js", std::ios::binary);
  std::ostringstream text;
  text << stream.rdbuf();
  return text.str();
}

// An entry that settles after `jobs` promise jobs and then answers.
std::string chain_entry(int jobs) {
  return "let p = Promise.resolve(0); for (let i = 0; i < " + std::to_string(jobs) +
         "; i++) p = p.then((n) => n + 1); __queltEmit(String(await p) + '\\n');";
}

quelt::EngineOptions options() {
  quelt::EngineOptions result;
  result.module_loader = quelt::load_registered_module;
  result.loader_opaque = const_cast<quelt::ModuleTable*>(&kNoModules);
  return result;
}

void BM_JobLoopHost(benchmark::State& state) {
  const std::string shims = shims_source();
  const std::string entry = chain_entry(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    quelt::HostState host;
    quelt::HeapBytes request;
    const quelt::Outcome outcome = quelt::run_engine(host, request, 0, nullptr, options(),
                                                     quelt::Unit::source(shims, "shims.js"),
                                                     quelt::Unit::source(entry, "entry.mjs"));
    if (outcome != quelt::Outcome::Response) state.SkipWithError("no response");
  }
}

// The same module and jobs, driven by a plain loop without timers or
// deadline checks.
void BM_JobLoopBare(benchmark::State& state) {
  const std::string entry = "globalThis.__queltEmit = () => {};" + chain_entry(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    quelt::RuntimePtr runtime(JS_NewRuntime());
    quelt::ContextPtr context(JS_NewContext(runtime.get()));
    JSContext* ctx = context.get();
    quelt::Value promise(ctx, JS_Eval(ctx, entry.c_str(), entry.size(), "entry.mjs", JS_EVAL_TYPE_MODULE));
    JSContext* job_context = nullptr;
    while (JS_ExecutePendingJob(runtime.get(), &job_context) > 0) {
    }
    if (JS_PromiseState(ctx, promise.get()) != JS_PROMISE_FULFILLED) state.SkipWithError("not settled");
  }
}

void BM_EngineSetUpHost(benchmark::State& state) {
  const std::string shims = shims_source();
  for (auto _ : state) {
    quelt::HostState host;
    host.started = quelt::monotonic_ms();
    quelt::Engine engine(host, options());
    static const std::uint8_t empty = 0;
    if (!engine.ok() || !engine.define_request_globals(&empty, 0, nullptr) || !engine.define_bindings() ||
        !engine.evaluate_shims(quelt::Unit::source(shims, "shims.js"))) {
      state.SkipWithError("set-up failed");
    }
  }
}

void BM_EngineSetUpBare(benchmark::State& state) {
  for (auto _ : state) {
    quelt::RuntimePtr runtime(JS_NewRuntime());
    quelt::ContextPtr context(JS_NewContext(runtime.get()));
    benchmark::DoNotOptimize(context.get());
  }
}

BENCHMARK(BM_JobLoopHost)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JobLoopBare)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EngineSetUpHost)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EngineSetUpBare)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
