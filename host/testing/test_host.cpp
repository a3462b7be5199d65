// quelt-test-host: runs JavaScript unit test files inside the product's
// engine set-up (same limits, globals, bindings and shims), loading modules
// from the repository instead of the embedded bytecode.
//
//   quelt-test-host [--root DIR] [--filter TEXT] [--deadline-ms N] FILE...
//
// Extra globals for tests:
//   __queltTestPrint(line)       writes line + "\n" to standard output
//   __queltTestRunEntry(raw, options?) runs a whole product request in a
//       fresh engine (raw: string or Uint8Array of request bytes; options:
//       {entry: module path, deadlineMs: number}) and returns the line the
//       executable would write, as a string.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "clock.hpp"
#include "disk_loader.hpp"
#include "engine.hpp"
#include "envelope.hpp"
#include "json_text.hpp"
#include "stack.hpp"

#ifndef QUELT_SOURCE_DIR
#define QUELT_SOURCE_DIR "."
#endif

namespace {

using quelt::testing::DiskRoot;

struct Settings {
  DiskRoot root{QUELT_SOURCE_DIR};
  std::string filter;
  double deadline_ms = 600000;
  std::vector<std::string> files;
};

Settings* settings_for_natives = nullptr;
std::size_t stack_limit = quelt::kStackLimit;

void print_exception(JSContext* ctx, JSValueConst error) {
  quelt::CString text(ctx, error);
  std::fprintf(stderr, "%s\n", text ? text.data() : "(exception)");
  if (JS_IsObject(error)) {
    quelt::Value stack(ctx, JS_GetPropertyStr(ctx, error, "stack"));
    if (JS_IsString(stack.get())) {
      quelt::CString lines(ctx, stack.get());
      if (lines) std::fprintf(stderr, "%s", lines.data());
    }
  }
  std::fflush(stderr);
}

JSValue test_print(JSContext* ctx, JSValueConst, int argc, JSValueConst* argv) {
  quelt::CString text(ctx, argc > 0 ? argv[0] : JS_UNDEFINED);
  if (!text) return JS_EXCEPTION;
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
  return JS_UNDEFINED;
}

// Runs one request the way quelt-native does, with units from disk.
std::string run_entry(const std::string& raw, const std::string& entry_path, double deadline_ms) {
  const Settings& settings = *settings_for_natives;
  std::string shims_source;
  std::string entry_source;
  std::string line;
  if (!quelt::testing::read_file(settings.root.path + "/quelt/native-shims.js", shims_source) ||
      !quelt::testing::read_file(settings.root.path + "/" + entry_path, entry_source)) {
    quelt::format_envelope("NATIVE_HOST_FAILURE", "host", line);
    return line;
  }
  quelt::HeapBytes request(static_cast<std::uint8_t*>(std::malloc(raw.size() + 1)));
  if (!request) return line;
  std::memcpy(request.get(), raw.data(), raw.size());
  request[raw.size()] = 0;
  const char* request_error = quelt::classify_request(request.get(), raw.size());

  quelt::HostState state;
  state.deadline_ms = deadline_ms;
  quelt::EngineOptions options;
  options.module_loader = quelt::testing::load_module_from_disk;
  options.loader_opaque = &settings_for_natives->root;
  options.stack_limit = stack_limit;
  const quelt::Unit shims = quelt::Unit::source(shims_source, "quelt/native-shims.js");
  const quelt::Unit entry = quelt::Unit::source(entry_source, entry_path.c_str());
  const quelt::Outcome outcome =
      quelt::run_engine(state, request, raw.size(), request_error, options, shims, entry);
  if (outcome == quelt::Outcome::Response) {
    line.assign(reinterpret_cast<const char*>(state.candidate.get()), state.candidate_size);
  } else {
    quelt::format_envelope(outcome == quelt::Outcome::Timeout ? "NATIVE_TIMEOUT" : "NATIVE_HOST_FAILURE", "host",
                           line);
  }
  return line;
}

JSValue test_run_entry(JSContext* ctx, JSValueConst, int argc, JSValueConst* argv) {
  if (argc < 1) return JS_ThrowTypeError(ctx, "%s", "__queltTestRunEntry(raw, options?)");
  std::string raw;
  if (JS_IsString(argv[0])) {
    quelt::CString text(ctx, argv[0]);
    if (!text) return JS_EXCEPTION;
    raw.assign(text.data(), text.size());
  } else {
    std::size_t offset = 0;
    std::size_t length = 0;
    std::size_t element = 0;
    quelt::Value buffer(ctx, JS_GetTypedArrayBuffer(ctx, argv[0], &offset, &length, &element));
    if (buffer.is_exception()) return JS_EXCEPTION;
    std::size_t size = 0;
    const std::uint8_t* data = JS_GetArrayBuffer(ctx, &size, buffer.get());
    if (data == nullptr && size != 0) return JS_EXCEPTION;
    if (length > 0) raw.assign(reinterpret_cast<const char*>(data + offset), length);
  }
  std::string entry = "quelt/native-entry.mjs";
  double deadline_ms = quelt::kDeadlineMs;
  if (argc > 1 && JS_IsObject(argv[1])) {
    quelt::Value entry_value(ctx, JS_GetPropertyStr(ctx, argv[1], "entry"));
    if (JS_IsString(entry_value.get())) {
      quelt::CString text(ctx, entry_value.get());
      if (!text) return JS_EXCEPTION;
      entry.assign(text.data(), text.size());
    }
    quelt::Value deadline_value(ctx, JS_GetPropertyStr(ctx, argv[1], "deadlineMs"));
    if (JS_IsNumber(deadline_value.get()) && JS_ToFloat64(ctx, &deadline_ms, deadline_value.get()) < 0) {
      return JS_EXCEPTION;
    }
  }
  const std::string line = run_entry(raw, entry, deadline_ms);
  return JS_NewStringLen(ctx, line.data(), line.size());
}

bool define_test_globals(JSContext* ctx, JSValueConst global) {
  JSValue print = JS_NewCFunction2(ctx, test_print, "__queltTestPrint", 1, JS_CFUNC_generic, 0);
  if (JS_SetPropertyStr(ctx, global, "__queltTestPrint", print) < 0) return false;
  JSValue run = JS_NewCFunction2(ctx, test_run_entry, "__queltTestRunEntry", 2, JS_CFUNC_generic, 0);
  return JS_SetPropertyStr(ctx, global, "__queltTestRunEntry", run) >= 0;
}

std::string real_path(const std::string& path) {
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) == nullptr) return {};
  return resolved;
}

// A file argument as a module name relative to the root.
bool module_name_for(const std::string& root, const std::string& file, std::string& name) {
  const std::string full = real_path(file);
  if (full.empty()) {
    const std::string under_root = real_path(root + "/" + file);
    if (under_root.empty()) return false;
    return module_name_for(root, under_root, name);
  }
  if (full.size() <= root.size() || full.compare(0, root.size(), root) != 0 || full[root.size()] != '/') {
    return false;
  }
  name = full.substr(root.size() + 1);
  return true;
}

int usage() {
  std::fprintf(stderr, "usage: quelt-test-host [--root DIR] [--filter TEXT] [--deadline-ms N] FILE...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "--root" || arg == "--filter" || arg == "--deadline-ms") && i + 1 >= argc) return usage();
    if (arg == "--root") {
      settings.root.path = argv[++i];
    } else if (arg == "--filter") {
      settings.filter = argv[++i];
    } else if (arg == "--deadline-ms") {
      settings.deadline_ms = std::strtod(argv[++i], nullptr);
    } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
      return usage();
    } else {
      settings.files.push_back(arg);
    }
  }
  if (settings.files.empty()) return usage();
  settings.root.path = real_path(settings.root.path);
  if (settings.root.path.empty()) return usage();
  settings_for_natives = &settings;
  stack_limit = quelt::reserve_stack(quelt::kStackLimit);

  std::string driver = "import { run } from \"tests/js/harness.mjs\";\n";
  for (const std::string& file : settings.files) {
    std::string name;
    if (!module_name_for(settings.root.path, file, name)) {
      std::fprintf(stderr, "quelt-test-host: %s is not a file under %s\n", file.c_str(), settings.root.path.c_str());
      return 2;
    }
    driver += "import ";
    quelt::append_json_string(driver, name);
    driver += ";\n";
  }
  driver += "globalThis.__queltTestFailures = await run(";
  quelt::append_json_string(driver, settings.filter);
  driver += ");\n";

  std::string shims_source;
  if (!quelt::testing::read_file(settings.root.path + "/quelt/native-shims.js", shims_source)) {
    std::fprintf(stderr, "quelt-test-host: cannot read quelt/native-shims.js\n");
    return 2;
  }

  quelt::HostState state;
  state.deadline_ms = settings.deadline_ms;
  state.started = quelt::monotonic_ms();
  quelt::EngineOptions options;
  options.module_loader = quelt::testing::load_module_from_disk;
  options.loader_opaque = &settings.root;
  options.stack_limit = stack_limit;
  options.report_exception = print_exception;
  int failures = -1;
  {
    quelt::Engine engine(state, options);
    if (!engine.ok()) return 3;
    JSContext* ctx = engine.context();
    static const std::uint8_t empty = 0;
    bool ready = engine.define_request_globals(&empty, 0, nullptr) && engine.define_bindings() &&
                 define_test_globals(ctx, engine.global()) &&
                 engine.evaluate_shims(quelt::Unit::source(shims_source, "quelt/native-shims.js")) &&
                 engine.start_entry(quelt::Unit::source(driver, "<test-driver>"));
    if (ready && engine.run_job_loop(false)) {
      quelt::Value count(ctx, JS_GetPropertyStr(ctx, engine.global(), "__queltTestFailures"));
      if (JS_IsNumber(count.get()) && JS_ToInt32(ctx, &failures, count.get()) < 0) failures = -1;
    }
    if (JS_HasException(ctx)) engine.drop_exception();
  }
  if (state.interrupted) std::fprintf(stderr, "quelt-test-host: deadline of %.0f ms passed\n", settings.deadline_ms);
  if (failures < 0) std::fprintf(stderr, "quelt-test-host: the test files did not run to the end\n");
  return failures == 0 ? 0 : 1;
}
