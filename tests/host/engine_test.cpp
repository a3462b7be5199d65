#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "clock.hpp"
#include "engine_fixture.hpp"
#include "envelope.hpp"
#include "registry.hpp"

namespace {

struct EntryOutcome {
  quelt::Outcome outcome;
  std::string line;
  bool interrupted;
  double elapsed_ms;
};

const quelt::ModuleTable kEmptyTable{nullptr, 0};

EntryOutcome run(const std::string& entry, double deadline_ms = 2000, const std::string& request = "",
        const std::string* shims_override = nullptr) {
  static const std::string shims = quelt::test::repository_file("quelt/native-shims.js");
  quelt::EngineOptions options;
  options.module_loader = quelt::load_registered_module;
  options.loader_opaque = const_cast<quelt::ModuleTable*>(&kEmptyTable);
  quelt::HostState state;
  state.deadline_ms = deadline_ms;
  quelt::HeapBytes buffer(static_cast<std::uint8_t*>(std::malloc(request.size() + 1)));
  std::memcpy(buffer.get(), request.data(), request.size());
  const char* request_error = quelt::classify_request(buffer.get(), request.size());
  const double before = quelt::monotonic_ms();
  EntryOutcome result{};
  result.outcome = quelt::run_engine(state, buffer, request.size(), request_error, options,
                                     quelt::Unit::source(shims_override ? *shims_override : shims, "shims.js"),
                                     quelt::Unit::source(entry, "quelt/native-entry.mjs"));
  result.elapsed_ms = quelt::monotonic_ms() - before;
  result.interrupted = state.interrupted;
  EXPECT_EQ(buffer, nullptr) << "the request buffer is released once the globals exist";
  if (result.outcome == quelt::Outcome::Response) {
    result.line.assign(reinterpret_cast<const char*>(state.candidate.get()), state.candidate_size);
  }
  return result;
}

TEST(JobLoop, OutcomeOfTheEntryModule) {
  struct Case {
    const char* label;
    const char* entry;
    quelt::Outcome outcome;
    const char* line;
  };
  const Case cases[] = {
      {"emits synchronously", "__queltEmit('ok\\n');", quelt::Outcome::Response, "ok\n"},
      {"emits after awaiting", "await null; await Promise.resolve(); __queltEmit('later\\n');",
       quelt::Outcome::Response, "later\n"},
      {"emits from a timer",
       "await new Promise((resolve) => setTimeout(() => { __queltEmit('timer\\n'); resolve(); }, 5));",
       quelt::Outcome::Response, "timer\n"},
      {"emits from a job queued after the last await",
       "Promise.resolve().then(() => Promise.resolve()).then(() => __queltEmit('queued\\n'));",
       quelt::Outcome::Response, "queued\n"},
      {"completes without emitting", "const x = 1;", quelt::Outcome::HostFailure, ""},
      {"throws before emitting", "throw new Error('boom');", quelt::Outcome::HostFailure, ""},
      {"emits and then throws", "__queltEmit('discarded\\n'); await null; throw new Error('late');",
       quelt::Outcome::HostFailure, ""},
      {"a timer callback throws",
       "setTimeout(() => { throw new Error('in timer'); }, 0); await new Promise((r) => setTimeout(r, 20));"
       "__queltEmit('never\\n');",
       quelt::Outcome::HostFailure, ""},
      {"does not parse", "import {", quelt::Outcome::HostFailure, ""},
  };
  for (const Case& c : cases) {
    const EntryOutcome result = run(c.entry);
    EXPECT_EQ(result.outcome, c.outcome) << c.label;
    EXPECT_EQ(result.line, c.line) << c.label;
    EXPECT_FALSE(result.interrupted) << c.label;
  }
}

TEST(JobLoop, TimersFireInInsertionOrderAndNeverSynchronously) {
  const EntryOutcome result = run(
      "const seen = [];"
      "setTimeout(() => seen.push('late-deadline-set-first'), 10);"
      "setTimeout(() => seen.push('zero'), 0);"
      "seen.push('sync');"
      "await new Promise((resolve) => setTimeout(resolve, 30));"
      "__queltEmit(JSON.stringify(seen) + '\\n');");
  ASSERT_EQ(result.outcome, quelt::Outcome::Response);
  EXPECT_EQ(result.line, "[\"sync\",\"zero\",\"late-deadline-set-first\"]\n");
}

TEST(JobLoop, ShimFailuresEndInTheHostEnvelope) {
  const std::string throwing = "throw new Error('shims');";
  const std::string without_flush = "globalThis.x = 1;";
  const std::string not_callable = "globalThis.__queltFlushTimers = 1;";
  for (const std::string* shims : {&throwing, &without_flush, &not_callable}) {
    const EntryOutcome result = run("__queltEmit('ok\\n');", 2000, "", shims);
    EXPECT_EQ(result.outcome, quelt::Outcome::HostFailure) << *shims;
    EXPECT_EQ(result.line, "") << *shims;
  }
}

TEST(JobLoop, RequestGlobalsReachTheEntry) {
  struct Case {
    std::string request;
    const char* line;
  };
  const Case cases[] = {
      {"", "[\"\",null]\n"},
      {std::string("a\0b", 3), "[\"a\\u0000b\",null]\n"},
      {"\xC3\xA9", "[\"\xC3\xA9\",null]\n"},
      {"\xED\xA0\x80", "[\"\",\"NATIVE_REQUEST\"]\n"},
      {std::string(16777217, 'a'), "[\"\",\"NATIVE_TRANSPORT_LIMIT\"]\n"},
  };
  for (const Case& c : cases) {
    const EntryOutcome result = run("__queltEmit(JSON.stringify([__queltRaw, __queltRequestError]) + '\\n');", 2000, c.request);
    ASSERT_EQ(result.outcome, quelt::Outcome::Response);
    EXPECT_EQ(result.line, c.line) << c.request.size();
  }
  const EntryOutcome exact = run("__queltEmit(String(__queltRaw.length) + ' ' + __queltRequestError + '\\n');", 2000,
                        std::string(16777216, 'a'));
  EXPECT_EQ(exact.line, "16777216 null\n");
}

TEST(Deadline, FiresOnWaitingAndOnRunningScripts) {
  struct Case {
    const char* label;
    const char* entry;
  };
  const Case cases[] = {
      {"waits on a promise that never settles", "await new Promise(() => {});"},
      {"waits on a long timer", "await new Promise((r) => setTimeout(r, 60000)); __queltEmit('late\\n');"},
      {"runs an endless loop", "for (;;) {}"},
      {"loops inside a job", "await null; for (;;) {}"},
      {"cannot catch the interruption", "for (;;) { try { for (;;) {} } catch (e) {} }"},
      {"emits and then keeps waiting", "__queltEmit('early\\n'); await new Promise(() => {});"},
  };
  for (const Case& c : cases) {
    const EntryOutcome result = run(c.entry, 150);
    EXPECT_EQ(result.outcome, quelt::Outcome::Timeout) << c.label;
    EXPECT_TRUE(result.interrupted) << c.label;
    EXPECT_GE(result.elapsed_ms, 150) << c.label;
    EXPECT_LT(result.elapsed_ms, 2000) << c.label;
  }
}

TEST(Deadline, CheckComparesElapsedTimeWithTheLimit) {
  quelt::HostState state;
  state.started = quelt::monotonic_ms();
  EXPECT_FALSE(quelt::deadline_passed(state));
  EXPECT_FALSE(state.interrupted);
  state.started = quelt::monotonic_ms() - 19990;
  EXPECT_FALSE(quelt::deadline_passed(state));
  state.started = quelt::monotonic_ms() - 20001;
  EXPECT_TRUE(quelt::deadline_passed(state));
  EXPECT_TRUE(state.interrupted);
  state.started = quelt::monotonic_ms();
  EXPECT_FALSE(quelt::deadline_passed(state));
  EXPECT_TRUE(state.interrupted) << "the flag is never cleared";
}

// The real 20,000 ms limit, once: an entry waiting on a one-minute timer.
TEST(Deadline, ProductLimitIsTwentySeconds) {
  const EntryOutcome result = run("await new Promise((r) => setTimeout(r, 60000)); __queltEmit('late\\n');", quelt::kDeadlineMs);
  EXPECT_EQ(result.outcome, quelt::Outcome::Timeout);
  EXPECT_GE(result.elapsed_ms, 20000);
  EXPECT_LT(result.elapsed_ms, 22000);
}

TEST(Limits, StackOverflowAndMemoryLimitAreScriptErrors) {
  const EntryOutcome deep = run(
      "let seen; function f(n) { return f(n + 1) + 1; } try { f(0); } catch (e) { seen = e.name + ': ' + e.message; }"
      "__queltEmit(seen + '\\n');",
      20000);
  EXPECT_EQ(deep.line, "InternalError: stack overflow\n");
  const EntryOutcome big = run(
      "let seen; try { const a = []; for (;;) a.push(new Array(1e6).fill(1.5)); } catch (e) { seen = String(e); }"
      "__queltEmit(seen + '\\n');",
      20000);
  EXPECT_EQ(big.line, "InternalError: out of memory\n");
}

TEST(Envelope, FixedTextWithCodeAndPhase) {
  std::string line;
  ASSERT_TRUE(quelt::format_envelope("NATIVE_TIMEOUT", "host", line));
  EXPECT_EQ(line,
            "{\"format\":\"quelt-native-project-json-v1\",\"status\":\"error\","
            "\"profile\":\"closed-pure-native-project-macos-v1\","
            "\"error\":{\"code\":\"NATIVE_TIMEOUT\",\"phase\":\"host\",\"location\":null}}\n");
  EXPECT_FALSE(quelt::format_envelope(std::string(300, 'X').c_str(), "host", line));
}

}  // namespace
