// First stage of compileProject: copy and check the caller's project data,
// normalise the interfaces through the compiler, and verify every digest.
import { CompileDiagnostic, compileModule } from "quelt/compiler.mjs";
import { dataObject, snapshotInterfaces } from "./data.mjs";
import { ProjectDiagnostic, fail } from "./diagnostics.mjs";
import { sha } from "./digest.mjs";
import { CONTRACT_SOURCE, MODULE_LIMITS } from "./limits.mjs";
import { pathCheck } from "./paths.mjs";
import { isWellFormed, utf8Length } from "./text.mjs";

const DIGEST = /^[0-9a-f]{64}$/;

// Copies the sources into a Map, ascending by path, each a frozen {source, sha256}.
export function copySources(value) {
  const rawSources = dataObject(value, null, MODULE_LIMITS.files);
  const paths = Object.keys(rawSources).sort();
  if (paths.length === 0 || paths.length > MODULE_LIMITS.files) {
    fail("PROJECT_LIMIT", "Project source file count exceeds its bound");
  }
  const sources = new Map();
  let totalBytes = 0;
  for (const path of paths) {
    pathCheck(path);
    const { source, sha256 } = dataObject(rawSources[path], ["source", "sha256"], 2);
    if (typeof source !== "string" || typeof sha256 !== "string" || !DIGEST.test(sha256)) {
      fail("PROJECT_SCHEMA", "Each source requires well-formed Text and a lowercase SHA-256 digest");
    }
    if (source.length > MODULE_LIMITS.totalUtf8Bytes) fail("PROJECT_LIMIT", "Source code units exceed 65536");
    if (!isWellFormed(source)) fail("PROJECT_SCHEMA", "Source Text must be well-formed Unicode");
    totalBytes += utf8Length(source);
    if (totalBytes > MODULE_LIMITS.totalUtf8Bytes) {
      fail("PROJECT_LIMIT", "Total supplied source UTF-8 bytes exceed 65536");
    }
    sources.set(path, Object.freeze({ source, sha256 }));
  }
  return sources;
}

// The interfaces as the compiler normalises them, checked on a fixed module.
// With none declared there is nothing the fixed module could refuse, and its
// answer would be an empty record, so the compile is skipped.
export function normaliseInterfaces(supplied) {
  const snapshot = snapshotInterfaces(Object.hasOwn(supplied, "interfaces") ? supplied.interfaces : {});
  if (Reflect.ownKeys(snapshot).length === 0) return Object.freeze(Object.create(null));
  return compileModule(CONTRACT_SOURCE, { interfaces: snapshot }).interfaces;
}

function validateShape(entry, options) {
  pathCheck(entry);
  const supplied = dataObject(options, null, 2, "PROJECT_SCHEMA");
  for (const key of Object.keys(supplied)) {
    if (key !== "sources" && key !== "interfaces") fail("PROJECT_SCHEMA", "Expected sources and optional interfaces");
  }
  if (!Object.hasOwn(supplied, "sources")) fail("PROJECT_SCHEMA", "Expected sources and optional interfaces");
  const sources = copySources(supplied.sources);
  if (!sources.has(entry)) fail("PROJECT_IMPORT", "Entry source is missing");
  const interfaces = normaliseInterfaces(supplied);
  return { entry, sources, interfaces };
}

// Every supplied source must match its digest, imported or not.
export async function checkDigests(sources) {
  for (const { source, sha256 } of sources.values()) {
    if ((await sha(source)) !== sha256) fail("PROJECT_HASH", "Source SHA-256 does not match the supplied Text");
  }
}

// The validated project {entry, sources, interfaces}, or the first failure.
export async function validateProject(entry, options) {
  let project;
  try {
    project = validateShape(entry, options);
  } catch (error) {
    if (error instanceof ProjectDiagnostic || error instanceof CompileDiagnostic) throw error;
    throw new ProjectDiagnostic("PROJECT_SCHEMA", "Project inputs must be bounded ordinary data");
  }
  await checkDigests(project.sources);
  return project;
}
