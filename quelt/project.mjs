// The project unit: validates a virtual project, links its files into one
// module and maps compile faults back to the files.
function notBuilt(name) {
  return () => {
    throw new Error(`${name} is not built yet`);
  };
}
export const MODULE_LIMITS = Object.freeze({ files: 16, depth: 8, totalUtf8Bytes: 65536, path: 256 });
export class ProjectDiagnostic extends Error {
  constructor(code, message) {
    super(message);
    this.name = "ProjectDiagnostic";
    this.code = code;
  }
}
export const compileProject = async () => notBuilt("compileProject")();
export const getProjectInfo = notBuilt("getProjectInfo");
export const getProjectManifest = notBuilt("getProjectManifest");
export const getProjectEditTargets = notBuilt("getProjectEditTargets");
export const getProjectSourceMap = notBuilt("getProjectSourceMap");
export const mapProjectLocation = notBuilt("mapProjectLocation");
