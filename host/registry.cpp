#include "registry.hpp"

#include <cstring>

namespace quelt {

JSModuleDef* load_registered_module(JSContext* ctx, const char* name, void* opaque) {
  const auto* table = static_cast<const ModuleTable*>(opaque);
  for (std::size_t i = 0; i < table->count; ++i) {
    const RegisteredModule& module = table->modules[i];
    if (std::strcmp(name, module.name) != 0) continue;
    JSValue value = JS_ReadObject(ctx, module.bytecode, module.size, JS_READ_OBJ_BYTECODE);
    if (JS_IsException(value)) return nullptr;
    if (JS_VALUE_GET_TAG(value) != JS_TAG_MODULE) {
      JS_FreeValue(ctx, value);
      JS_ThrowTypeError(ctx, "%s", "Module");
      return nullptr;
    }
    // The engine keeps its own reference to the module.
    auto* definition = static_cast<JSModuleDef*>(JS_VALUE_GET_PTR(value));
    JS_FreeValue(ctx, value);
    return definition;
  }
  JS_ThrowReferenceError(ctx, "%s", "Unregistered module");
  return nullptr;
}

}  // namespace quelt
