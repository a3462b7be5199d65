// quelt-native: reads one request from standard input, runs the embedded
// entry module on it and writes exactly one line to standard output.
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "engine.hpp"
#include "envelope.hpp"
#include "registry.hpp"
#include "stack.hpp"
#include "units.hpp"

namespace {

// Reads standard input to its end, at most 16 MiB + 1 bytes. False on a
// read error.
bool read_request(std::uint8_t* buffer, std::size_t& filled) {
  filled = 0;
  while (filled <= quelt::kTransportLimit && !std::feof(stdin)) {
    filled += std::fread(buffer + filled, 1, quelt::kTransportLimit + 1 - filled, stdin);
    if (std::ferror(stdin)) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char**) {
  std::signal(SIGPIPE, SIG_IGN);
  if (argc != 1) return quelt::write_envelope(stdout, "NATIVE_REQUEST", "request");
  const std::size_t stack_limit = quelt::reserve_stack(quelt::kStackLimit);

  quelt::HeapBytes request(static_cast<std::uint8_t*>(std::malloc(quelt::kRequestBufferSize)));
  std::size_t size = 0;
  if (!request || !read_request(request.get(), size)) {
    request.reset();
    return quelt::write_envelope(stdout, "NATIVE_HOST_FAILURE", "host");
  }
  const char* request_error = quelt::classify_request(request.get(), size);
  request[size] = 0;

  quelt::HostState state;
  quelt::EngineOptions options;
  options.module_loader = quelt::load_registered_module;
  options.loader_opaque = const_cast<quelt::ModuleTable*>(&quelt::embedded_module_table());
  options.stack_limit = stack_limit;
  const quelt::Unit shims = quelt::Unit::bytecode(quelt_shims, quelt_shims_size, "quelt/native-shims.js");
  const quelt::Unit entry = quelt::Unit::bytecode(quelt_entry, quelt_entry_size, "quelt/native-entry.mjs");
  const quelt::Outcome outcome = quelt::run_engine(state, request, size, request_error, options, shims, entry);
  return quelt::write_outcome(stdout, state, outcome);
}
