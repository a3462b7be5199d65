// Module loading from the repository for the test host: every normalised
// module name is a path relative to the root folder, so the registry names
// quelt/compiler.mjs, quelt/project.mjs and quelt/runtime.mjs map to the
// unbundled unit front doors.
#pragma once

#include <string>

#include "quickjs.h"

namespace quelt::testing {

struct DiskRoot {
  std::string path;  // no trailing slash
};

// Reads a whole file; false when it cannot be read.
bool read_file(const std::string& path, std::string& text);

// Engine module loader; `opaque` is a `const DiskRoot*`.
JSModuleDef* load_module_from_disk(JSContext* ctx, const char* name, void* opaque);

}  // namespace quelt::testing
