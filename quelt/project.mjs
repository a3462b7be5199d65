// The project unit: validates a virtual project, links its files into one
// module and maps compile faults back to the files.
export { MODULE_LIMITS } from "./project/limits.mjs";
export { ProjectDiagnostic } from "./project/diagnostics.mjs";
export { compileProject } from "./project/link.mjs";
export {
  getProjectInfo,
  getProjectManifest,
  getProjectEditTargets,
  getProjectSourceMap,
  mapProjectLocation,
} from "./project/metadata.mjs";
