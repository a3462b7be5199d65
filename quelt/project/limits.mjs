// Bounds of a virtual project and the fixed names the linker works with.

export const MODULE_LIMITS = Object.freeze({ files: 16, depth: 8, totalUtf8Bytes: 65536, path: 256 });

// Every name the linker makes starts with this prefix; sources may not use it.
export const PREFIX = "__quelt_module_";

// Compiled once per project so the compiler checks the caller's interfaces
// before any project file is read.
export const CONTRACT_SOURCE = "brindlet __project_contract { input value: Int = 0 output value }";

export const BUNDLE_DOMAIN = "KORVANTIS/project-bundle/v1";
export const INFO_SCHEMA = "quelt-project-info-v1";
export const MANIFEST_SCHEMA = "quelt-project-manifest-v1";
export const SOURCE_MAP_SCHEMA = "quelt-project-source-map-v1";
