// quelt-bare: the baseline for cold-start figures. Creates an engine runtime
// and context with the same limits as quelt-native, evaluates an empty
// module, runs its jobs and exits.
#include "quickjs.h"

int main() {
  JSRuntime* rt = JS_NewRuntime();
  if (rt == nullptr) return 1;
  JS_SetMemoryLimit(rt, 268435456);
  JS_SetMaxStackSize(rt, 8388608);
  JS_SetCanBlock(rt, 0);
  JSContext* ctx = JS_NewContext(rt);
  if (ctx == nullptr) {
    JS_FreeRuntime(rt);
    return 1;
  }
  static const char empty[] = "";
  JSValue result = JS_Eval(ctx, empty, 0, "bare.mjs", JS_EVAL_TYPE_MODULE);
  const int status = JS_IsException(result) ? 1 : 0;
  JS_FreeValue(ctx, result);
  JSContext* job_context = nullptr;
  while (JS_ExecutePendingJob(rt, &job_context) > 0) {
  }
  JS_FreeContext(ctx);
  JS_FreeRuntime(rt);
  return status;
}
