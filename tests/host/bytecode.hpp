// Compiles script text to engine bytecode for registry tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quelt::test {

// Bytecode of `source` compiled as a module (or a global script) named
// `name`; imports are not followed. Empty on a compile error.
std::vector<std::uint8_t> compile_bytecode(const std::string& source, const char* name, bool module);

}  // namespace quelt::test
