#include "bytecode.hpp"

#include "js_handles.hpp"

namespace quelt::test {

namespace {
JSModuleDef* placeholder_loader(JSContext* ctx, const char* name, void*) {
  JSValue module = JS_Eval(ctx, "", 0, name, JS_EVAL_TYPE_MODULE | JS_EVAL_FLAG_COMPILE_ONLY);
  if (JS_IsException(module)) return nullptr;
  auto* definition = static_cast<JSModuleDef*>(JS_VALUE_GET_PTR(module));
  JS_FreeValue(ctx, module);
  return definition;
}
}  // namespace

std::vector<std::uint8_t> compile_bytecode(const std::string& source, const char* name, bool module) {
  RuntimePtr runtime(JS_NewRuntime());
  JS_SetModuleLoaderFunc(runtime.get(), nullptr, placeholder_loader, nullptr);
  ContextPtr context(JS_NewContext(runtime.get()));
  JSContext* ctx = context.get();
  const int flags = JS_EVAL_FLAG_COMPILE_ONLY | (module ? JS_EVAL_TYPE_MODULE : JS_EVAL_TYPE_GLOBAL);
  Value compiled(ctx, JS_Eval(ctx, source.c_str(), source.size(), name, flags));
  std::vector<std::uint8_t> bytes;
  if (compiled.is_exception()) {
    JS_FreeValue(ctx, JS_GetException(ctx));
    return bytes;
  }
  std::size_t size = 0;
  std::uint8_t* data = JS_WriteObject(ctx, &size, compiled.get(), JS_WRITE_OBJ_BYTECODE);
  if (data != nullptr) {
    bytes.assign(data, data + size);
    js_free(ctx, data);
  }
  return bytes;
}

}  // namespace quelt::test
