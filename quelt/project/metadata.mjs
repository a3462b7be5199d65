// Project state per compiled Program, held weakly, and the metadata readers.
import { isCompiledProgram } from "quelt/compiler.mjs";
import { fail } from "./diagnostics.mjs";
import { SOURCE_MAP_SCHEMA } from "./limits.mjs";
import { mappedPoint } from "./source-map.mjs";

const projects = new WeakMap();

export function registerProject(program, state) {
  projects.set(program, state);
}

function projectState(program) {
  const state = program !== null && typeof program === "object" ? projects.get(program) : undefined;
  if (state === undefined) fail("PROJECT_PROGRAM", "Use a project-compiler-issued Program");
  return state;
}

export function getProjectInfo(program) {
  if (!isCompiledProgram(program)) fail("PROJECT_PROGRAM", "Project metadata requires a compiler-issued Program");
  return projects.get(program)?.info ?? null;
}

export function getProjectManifest(program) {
  return projectState(program).manifest;
}

export function getProjectEditTargets(program) {
  return projectState(program).targets;
}

export function getProjectSourceMap(program) {
  const { segments } = projectState(program);
  return Object.freeze({ schema: SOURCE_MAP_SCHEMA, offsetUnit: "UTF-16", segments });
}

export function mapProjectLocation(program, linkedOffset) {
  return Object.freeze(mappedPoint(projectState(program), linkedOffset));
}
