#include "disk_loader.hpp"

#include <fstream>
#include <iterator>
#include <sstream>

namespace quelt::testing {

bool read_file(const std::string& path, std::string& text) {
  std::ifstream stream(path, std::ios::binary);
  if (!stream) return false;
  std::ostringstream contents;
  contents << stream.rdbuf();
  if (stream.bad()) return false;
  text = contents.str();
  return true;
}

JSModuleDef* load_module_from_disk(JSContext* ctx, const char* name, void* opaque) {
  const auto* root = static_cast<const DiskRoot*>(opaque);
  std::string source;
  if (!read_file(root->path + "/" + name, source)) {
    JS_ThrowReferenceError(ctx, "could not load module '%s' under %s", name, root->path.c_str());
    return nullptr;
  }
  JSValue module = JS_Eval(ctx, source.c_str(), source.size(), name, JS_EVAL_TYPE_MODULE | JS_EVAL_FLAG_COMPILE_ONLY);
  if (JS_IsException(module)) return nullptr;
  auto* definition = static_cast<JSModuleDef*>(JS_VALUE_GET_PTR(module));
  JS_FreeValue(ctx, module);
  return definition;
}

}  // namespace quelt::testing
