// Tearing the engine down while the entry module's evaluation is still
// pending (the deadline fired in the middle of a real run) must release
// everything without touching freed memory; the sanitizer build checks it.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "disk_loader.hpp"
#include "engine.hpp"
#include "engine_fixture.hpp"
#include "json_text.hpp"

namespace {

// A run whose output is large enough that encoding it takes a while.
std::string slow_run_request() {
  std::string items = "s";
  for (int i = 1; i < 200; ++i) items += ", s";
  const std::string source = "brindlet m { input s: Text derive xs: Text[] = [" + items + "] output xs }";
  return "{\"format\":\"quelt-native-project-json-v1\",\"operation\":\"run\",\"entry\":\"main.quelt\","
         "\"sources\":{\"main.quelt\":{\"source\":\"" + source + "\",\"sha256\":\"" + quelt::sha256_hex(source) +
         "\"}},\"inputs\":[[\"s\",{\"tag\":\"text\",\"value\":\"" + std::string(60000, 'a') +
         "\"}]],\"budget\":{}}";
}

TEST(Teardown, DeadlineInsideARealRunReleasesEverything) {
  const std::string shims = quelt::test::repository_file("quelt/native-shims.js");
  const std::string entry = quelt::test::repository_file("quelt/native-entry.mjs");
  const std::string request = slow_run_request();
  quelt::testing::DiskRoot root{QUELT_SOURCE_DIR};
  for (const double deadline_ms : {30.0, 100.0, 300.0}) {
    quelt::EngineOptions options;
    options.module_loader = quelt::testing::load_module_from_disk;
    options.loader_opaque = &root;
    quelt::HostState state;
    state.deadline_ms = deadline_ms;
    quelt::HeapBytes buffer(static_cast<std::uint8_t*>(std::malloc(request.size() + 1)));
    std::memcpy(buffer.get(), request.data(), request.size());
    const quelt::Outcome outcome =
        quelt::run_engine(state, buffer, request.size(), nullptr, options,
                          quelt::Unit::source(shims, "quelt/native-shims.js"),
                          quelt::Unit::source(entry, "quelt/native-entry.mjs"));
    EXPECT_EQ(outcome, quelt::Outcome::Timeout) << deadline_ms;
  }
}

}  // namespace
