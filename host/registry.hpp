// The module registry: a fixed table of precompiled modules served to the
// engine's module loader by normalised name.
#pragma once

#include <cstddef>
#include <cstdint>

#include "quickjs.h"

namespace quelt {

struct RegisteredModule {
  const char* name;
  const std::uint8_t* bytecode;
  std::size_t size;
};

struct ModuleTable {
  const RegisteredModule* modules;
  std::size_t count;
};

// Engine module loader; `opaque` is a `const ModuleTable*`. Names are
// compared byte for byte in table order. An unknown name throws
// ReferenceError "Unregistered module"; bytecode that is not a module
// throws TypeError "Module".
JSModuleDef* load_registered_module(JSContext* ctx, const char* name, void* opaque);

// The product's table: quelt/compiler.mjs, quelt/runtime.mjs,
// quelt/project.mjs, in that order.
const ModuleTable& embedded_module_table();

}  // namespace quelt
