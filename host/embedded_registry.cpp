#include "registry.hpp"
#include "units.hpp"

namespace quelt {

const ModuleTable& embedded_module_table() {
  static const RegisteredModule modules[] = {
      {"quelt/compiler.mjs", quelt_compiler, quelt_compiler_size},
      {"quelt/runtime.mjs", quelt_runtime, quelt_runtime_size},
      {"quelt/project.mjs", quelt_project, quelt_project_size},
  };
  static const ModuleTable table{modules, sizeof modules / sizeof modules[0]};
  return table;
}

}  // namespace quelt
