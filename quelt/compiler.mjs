// The compiler unit: turns one module source into a frozen, compiler-issued
// Program, and exposes the token view and the shared limit tables.
export { CompileDiagnostic } from "./compiler/diagnostics.mjs";
export {
  RECORD_READ_TYPES,
  FUNCTION_LOCAL_LIMITS,
  FUNCTION_EACH_LIMITS,
  FUNCTION_FILTER_LIMITS,
  FUNCTION_FOLD_LIMITS,
  FUNCTION_REPEAT_LIMITS,
  TEXT_CONCAT_LIMITS,
  ARRAY_AT_LIMITS,
  ARRAY_APPEND_LIMITS,
  ARRAY_CONCAT_LIMITS,
  RECORD_KEYS_LIMITS,
  RECORD_FIELD_CHECK_LIMITS,
  NAMED_RECORD_SCHEMA_LIMITS,
  RESULT_LIMITS,
  INT_BITS_LIMITS,
  TEXT_OP_LIMITS,
} from "./compiler/limits.mjs";
export { getSourceTokens } from "./compiler/lexer.mjs";
export { compileModule } from "./compiler/compile.mjs";
export { isCompiledProgram, getExpressionType, getDeriveSourceRange } from "./compiler/program.mjs";
