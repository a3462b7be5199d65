#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bytecode.hpp"
#include "engine_fixture.hpp"
#include "registry.hpp"

namespace {

using quelt::test::compile_bytecode;

// A registry like the product's, over small fixture modules.
struct FixtureRegistry {
  std::vector<std::uint8_t> compiler;
  std::vector<std::uint8_t> runtime;
  std::vector<std::uint8_t> project;
  std::vector<quelt::RegisteredModule> modules;
  quelt::ModuleTable table{};

  FixtureRegistry(const std::vector<std::uint8_t>& runtime_bytecode = {}) {
    compiler = compile_bytecode(
        "globalThis.compilerLoads = (globalThis.compilerLoads ?? 0) + 1; export const token = {};",
        "quelt/compiler.mjs", true);
    runtime = runtime_bytecode.empty()
                  ? compile_bytecode("export { token as runtimeToken } from './compiler.mjs';", "quelt/runtime.mjs", true)
                  : runtime_bytecode;
    project = compile_bytecode("import { token } from './compiler.mjs'; export const projectToken = token;",
                               "quelt/project.mjs", true);
    modules = {{"quelt/compiler.mjs", compiler.data(), compiler.size()},
               {"quelt/runtime.mjs", runtime.data(), runtime.size()},
               {"quelt/project.mjs", project.data(), project.size()}};
    table = {modules.data(), modules.size()};
  }
};

struct EntryRun {
  quelt::Outcome outcome;
  std::string line;
  std::string error;  // the last exception reported by the engine
};

EntryRun run_entry(FixtureRegistry& registry, const std::string& entry_source) {
  EntryRun result{};
  quelt::EngineOptions options;
  options.module_loader = quelt::load_registered_module;
  options.loader_opaque = &registry.table;
  options.report_exception = [&result](JSContext* ctx, JSValueConst error) {
    result.error = quelt::test::describe_error(ctx, error);
  };
  const std::string shims = quelt::test::repository_file("quelt/native-shims.js");
  quelt::HostState state;
  quelt::HeapBytes request;
  result.outcome = quelt::run_engine(state, request, 0, nullptr, options,
                                     quelt::Unit::source(shims, "quelt/native-shims.js"),
                                     quelt::Unit::source(entry_source, "quelt/native-entry.mjs"));
  if (result.outcome == quelt::Outcome::Response) {
    result.line.assign(reinterpret_cast<const char*>(state.candidate.get()), state.candidate_size);
  }
  return result;
}

TEST(Registry, LoadsEachRegisteredModuleOnceAndSharesIt) {
  FixtureRegistry registry;
  const EntryRun run = run_entry(registry,
                                 "import { token } from 'quelt/compiler.mjs';"
                                 "import { runtimeToken } from 'quelt/runtime.mjs';"
                                 "import { projectToken } from 'quelt/project.mjs';"
                                 "import { token as relative } from './compiler.mjs';"
                                 "__queltEmit(JSON.stringify([globalThis.compilerLoads, token === runtimeToken,"
                                 " token === projectToken, token === relative]) + '\\n');");
  EXPECT_EQ(run.outcome, quelt::Outcome::Response) << run.error;
  EXPECT_EQ(run.line, "[1,true,true,true]\n");
}

TEST(Registry, RefusesNamesOutsideTheTable) {
  for (const char* name : {"quelt/lexer.mjs", "quelt/compiler", "quelt/native-shims.js", "Quelt/compiler.mjs",
                           "quelt/compiler.mjs ", "./runtime.mjs/"}) {
    FixtureRegistry registry;
    const EntryRun run = run_entry(registry, std::string("import '") + name + "'; __queltEmit('x\\n');");
    EXPECT_EQ(run.outcome, quelt::Outcome::HostFailure) << name;
    EXPECT_EQ(run.error, "ReferenceError: Unregistered module") << name;
  }
}

TEST(Registry, DynamicImportOfAnUnknownNameRejectsInsideTheScript) {
  FixtureRegistry registry;
  const EntryRun run = run_entry(registry,
                                 "let seen; try { await import('quelt/other.mjs'); } catch (e) {"
                                 " seen = e.name + ': ' + e.message; } __queltEmit(seen + '\\n');");
  EXPECT_EQ(run.outcome, quelt::Outcome::Response) << run.error;
  EXPECT_EQ(run.line, "ReferenceError: Unregistered module\n");
}

TEST(Registry, RefusesBytecodeThatIsNotAModule) {
  FixtureRegistry registry(compile_bytecode("1 + 1", "quelt/runtime.mjs", false));
  const EntryRun run = run_entry(registry, "import 'quelt/runtime.mjs'; __queltEmit('x\\n');");
  EXPECT_EQ(run.outcome, quelt::Outcome::HostFailure);
  EXPECT_EQ(run.error, "TypeError: Module");
}

TEST(Registry, UnreadableBytecodeFailsTheImport) {
  const std::vector<std::uint8_t> garbage = {0xFF, 0x00, 0x12};
  FixtureRegistry registry(garbage);
  const EntryRun run = run_entry(registry, "import 'quelt/runtime.mjs'; __queltEmit('x\\n');");
  EXPECT_EQ(run.outcome, quelt::Outcome::HostFailure);
  EXPECT_FALSE(run.error.empty());
}

}  // namespace
