// Deterministic inputs and outcome checks for fuzzing compileProject.
//
// The property: compileProject resolves with a compiler-issued Program or
// rejects with a ProjectDiagnostic or CompileDiagnostic of a known code;
// when the diagnostic names a file, its offset lies inside that file and its
// line and column match the offset; nothing else escapes, whatever the
// caller passes (proxies with throwing traps, accessors, odd prototypes).
//
// Exports
//   randomProjectCall(random) -> Promise<{entry, options}>
//   checkProject(entry, options) -> Promise<null | fault description>
//   checkSingleFileProject(source) -> Promise<null | fault description>
//     compileProject of a one-file project against compileModule of the
//     same source: both compile, or a fault of the linked compile comes back
//     with the code, offset and message that compileModule reports.
//   describeCall(entry, options)  printable form of a call
//   sha256Hex(text)               the digest a source record needs
//   SLOW_PROJECT_MS               a call slower than this is a fault
import { CompileDiagnostic, isCompiledProgram, compileModule } from "quelt/compiler.mjs";
import {
  ProjectDiagnostic,
  compileProject,
  getProjectSourceMap,
  getProjectEditTargets,
  mapProjectLocation,
} from "quelt/project.mjs";
import { KNOWN_CODES, VALID_MODULES, mutateModule, randomText, tokenSoup } from "./fuzz-lib.mjs";

const PROJECT_CODES = new Set([
  "PROJECT_PATH", "PROJECT_SCHEMA", "PROJECT_LIMIT", "PROJECT_IMPORT", "PROJECT_HASH", "PROJECT_CRYPTO",
  "PROJECT_CYCLE", "PROJECT_DUPLICATE", "PROJECT_RESERVED",
]);

export const SLOW_PROJECT_MS = 3000;

export async function sha256Hex(text) {
  const digest = await crypto.subtle.digest("SHA-256", new TextEncoder().encode(text));
  return Array.from(new Uint8Array(digest), (byte) => byte.toString(16).padStart(2, "0")).join("");
}

async function sourcesOf(files) {
  const sources = {};
  for (const [path, source] of Object.entries(files)) sources[path] = { source, sha256: await sha256Hex(source) };
  return sources;
}

// ------------------------------------------------------------ projects

// A small valid three-file project (entry, library, base) that the
// generators cut and mutate; the quick robustness test uses it too.
export const LIBRARY = [
  'import { base } from "../base.quelt";',
  'schema Box { w: Int, "h": Float }',
  "result Res: Int[];",
  'fn area(b: Box) -> Int { let w: Int = b |> field("w"); return w + base() ; }',
  'fn wrap(r: Record) -> Res { return [readInt(r, "w")] |> ok(Res) }',
].join("\n");
export const ENTRY = [
  'import { area, wrap, Box } from "./lib/shapes.quelt";',
  "fn one(x: Int[]) -> Int { return 1 }",
  "fn bad(e: Text) -> Int { return 0 }",
  "brindlet m {",
  "  input r: Record",
  "  derive b: Box = r |> asSchema(Box)",
  "  derive n: Int = area(b) + (wrap(r) |> match(one, bad))",
  "  output n",
  "}",
].join("\n");
export const BASE = "fn base() -> Int { return 2 }";

// Small projects, each {entry: path, files: {path: source}}.
function baseProjects() {
  const chain = {};
  for (let k = 0; k < 10; k += 1) {
    chain[`c${k}.quelt`] = k === 9 ? `fn g${k}() -> Int { return ${k} }` : `import { g${k + 1} } from "./c${k + 1}.quelt";\nfn g${k}() -> Int { return g${k + 1}() }`;
  }
  chain["main.quelt"] = 'import { g0 } from "./c0.quelt";\nbrindlet m { derive d: Int = g0() output d }';
  return [
    { entry: "main.quelt", files: { "main.quelt": ENTRY, "lib/shapes.quelt": LIBRARY, "base.quelt": BASE } },
    { entry: "main.quelt", files: { "main.quelt": VALID_MODULES[2] } },
    { entry: "a/main.quelt", files: { "a/main.quelt": 'import { base } from "../base.quelt";\nbrindlet m { derive d: Int = base() output d }', "base.quelt": BASE } },
    {
      entry: "main.quelt",
      files: {
        "main.quelt": 'import { f } from "./x.quelt";\nbrindlet m { input a: Int derive d: Int = f(a) output d }',
        "x.quelt": 'import { g } from "./y.quelt";\nfn f(v: Int) -> Int { return g(v) }',
        "y.quelt": 'import { f } from "./x.quelt";\nfn g(v: Int) -> Int { return v }',
      },
    },
    { entry: "main.quelt", files: chain },
  ];
}

const SPECIFIERS = [
  "./base.quelt", "../base.quelt", "./missing.quelt", "base.quelt", "/base.quelt", "./", "./.quelt", ".//base.quelt",
  "./a/../base.quelt", "../../x.quelt", "./%41.quelt", "./a\\b.quelt", "./a:b.quelt", "./a?.quelt", "./#.quelt",
  "./main.quelt", `./${"a".repeat(65)}.quelt`, `./${"a/".repeat(130)}x.quelt`, "./\u00e9.quelt", "./base.quelt/",
  "./-a.quelt", "./a..quelt", "./__proto__.quelt", "./constructor.quelt",
];

const PATHS = [
  "main.quelt", "lib/shapes.quelt", "base.quelt", "", "a", ".quelt", "/a.quelt", "a//b.quelt", "../a.quelt", "./a.quelt",
  "a/./b.quelt", "A-b_c.d.quelt", `${"x".repeat(64)}.quelt`, `${"x".repeat(65)}.quelt`, "\u00e9.quelt", "a/b/",
  "__proto__.quelt", "constructor", "a.QUELT", `${"a/".repeat(127)}b.quelt`,
];

const sentinel = new Error("caller trap");

// A value that only a careful copier survives.
function hostile(random, inner) {
  switch (random.int(9)) {
    case 0: return new Proxy(inner, { ownKeys() { throw sentinel; } });
    case 1: return new Proxy(inner, { getPrototypeOf() { throw sentinel; } });
    case 2: return new Proxy(inner, { getOwnPropertyDescriptor() { throw sentinel; } });
    case 3: return new Proxy(inner, { get() { throw sentinel; } });
    case 4: {
      const copy = { ...inner };
      const key = Object.keys(copy)[0] ?? "x";
      Object.defineProperty(copy, key, { get() { throw sentinel; }, enumerable: true });
      return copy;
    }
    case 5: return Object.assign(Object.create({ inherited: 1 }), inner);
    case 6: return Object.assign(Object.create(null), inner, { [Symbol("s")]: 1 });
    case 7: {
      const copy = { ...inner };
      Object.defineProperty(copy, "hidden", { value: 1, enumerable: false });
      return copy;
    }
    default: return Object.freeze({ ...inner });
  }
}

function oddValue(random) {
  return random.pick([undefined, null, 0, -1, 1.5, NaN, "", "x", true, [], [1], {}, () => 1, new Map(), new Date(0), Symbol("v"), 10n]);
}

async function randomSources(random, project) {
  const files = { ...project.files };
  switch (random.int(9)) {
    case 0: { // mutate one file
      const path = random.pick(Object.keys(files));
      files[path] = mutateModule(random, files[path]);
      break;
    }
    case 1: { // an import with an odd specifier
      const path = random.pick(Object.keys(files));
      files[path] = `import { ${random.pick(["base", "area", "sum", "x, x", "__proto__"])} } from "${random.pick(SPECIFIERS)}";\n${files[path]}`;
      break;
    }
    case 2: { // a file replaced by noise
      const path = random.pick(Object.keys(files));
      files[path] = random.chance(0.5) ? tokenSoup(random, 1 + random.int(40)) : randomText(random);
      break;
    }
    case 3: // extra files under odd paths
      for (let k = random.int(20); k > 0; k -= 1) files[random.pick(PATHS) + (random.chance(0.3) ? String(k) : "")] = random.pick(VALID_MODULES);
      break;
    case 4: { // the reserved linker prefix
      const path = random.pick(Object.keys(files));
      files[path] = files[path].replace(/\bfn (\w+)/, "fn __quelt_module_0_f0");
      break;
    }
    default:
      break;
  }
  const sources = await sourcesOf(files);
  const edit = random.int(14);
  const paths = Object.keys(sources);
  const path = random.pick(paths);
  if (edit === 0) sources[path] = { ...sources[path], sha256: random.pick(["0".repeat(64), sources[path].sha256.toUpperCase(), "abc", 7]) };
  else if (edit === 1) sources[path] = { ...sources[path], source: oddValue(random) };
  else if (edit === 2) sources[path] = { ...sources[path], extra: 1 };
  else if (edit === 3) sources[path] = hostile(random, sources[path]);
  else if (edit === 4) sources[path] = oddValue(random);
  // Wrapped, because resolving a promise with a proxy would consult its traps.
  return { sources: edit === 5 ? hostile(random, sources) : sources };
}

export async function randomProjectCall(random) {
  const projects = baseProjects();
  const project = random.pick(projects);
  let entry = random.chance(0.9) ? project.entry : random.chance(0.5) ? random.pick(PATHS) : oddValue(random);
  const { sources } = await randomSources(random, project);
  let options;
  switch (random.int(16)) {
    case 0: options = oddValue(random); break;
    case 1: options = { sources, interfaces: random.chance(0.5) ? oddValue(random) : { "io.read": { params: ["Int"], result: "Int", effects: [] } } }; break;
    case 2: options = { sources, extra: 1 }; break;
    case 3: options = hostile(random, { sources }); break;
    case 4: options = { interfaces: {} }; break;
    case 5: options = { sources, interfaces: hostile(random, { "io.read": { params: ["Int"], result: "Int", effects: [] } }) }; break;
    default: options = { sources }; break;
  }
  if (random.chance(0.02)) entry = hostile(random, { toString: () => "main.quelt" });
  return { entry, options };
}

// ------------------------------------------------------------ checks

function describeError(error) {
  if (error instanceof Error) return `${error.name}: ${error.message}`;
  return `non-error thrown: ${String(error)}`;
}

function position(source, offset) {
  let line = 1;
  let lastFeed = -1;
  for (let i = source.indexOf("\n"); i !== -1 && i < offset; i = source.indexOf("\n", i + 1)) {
    line += 1;
    lastFeed = i;
  }
  return { line, column: offset - lastFeed };
}

// The supplied text of `path`, read through property descriptors as the
// linker reads it (a proxy may refuse plain reads).
function suppliedSource(options, path) {
  const own = (value, key) => Object.getOwnPropertyDescriptor(value, key)?.value;
  try {
    const source = own(own(own(options, "sources"), path), "source");
    return typeof source === "string" ? source : null;
  } catch {
    return null;
  }
}

function errorFault(error, options) {
  const isProject = error instanceof ProjectDiagnostic;
  if (!isProject && !(error instanceof CompileDiagnostic)) return `rejected with ${describeError(error)}`;
  const known = isProject ? PROJECT_CODES : KNOWN_CODES;
  if (!known.has(error.code)) return `${error.name} with unexpected code ${error.code}: ${error.message}`;
  if (!Object.hasOwn(error, "sourcePath")) return null;
  const source = suppliedSource(options, error.sourcePath);
  if (source === null) return `${error.code} names the file ${JSON.stringify(error.sourcePath)}, which was not supplied`;
  const { offset } = error;
  if (!Number.isInteger(offset) || offset < 0 || offset > source.length) {
    return `${error.code} in ${error.sourcePath} at offset ${offset}, outside the file (length ${source.length})`;
  }
  const { line, column } = position(source, offset);
  if (error.line !== line || error.column !== column) {
    return `${error.code} in ${error.sourcePath} at ${offset} reports ${error.line}:${error.column}, expected ${line}:${column}`;
  }
  return null;
}

// The metadata of a project Program stays inside the files it describes:
// segments ascend without overlap, edit targets lie inside their files, and
// every linked offset (and a few values that are not offsets) maps to a
// place inside a supplied file or fails with PROJECT_LOCATION.
function metadataFault(program, options) {
  const linked = program.source;
  const fileLength = (path) => suppliedSource(options, path)?.length ?? -1;
  const { segments } = getProjectSourceMap(program);
  let previousEnd = 0;
  for (const segment of segments) {
    if (!(segment.start >= previousEnd && segment.start < segment.end && segment.end <= linked.length)) {
      return `source map segment ${segment.start}..${segment.end} after ${previousEnd} in a linked source of ${linked.length}`;
    }
    if (!(segment.sourceStart >= 0 && segment.sourceStart <= segment.sourceEnd && segment.sourceEnd <= fileLength(segment.path))) {
      return `source map segment maps to ${segment.path} ${segment.sourceStart}..${segment.sourceEnd}`;
    }
    previousEnd = segment.end;
  }
  for (const target of getProjectEditTargets(program)) {
    const { start, end } = target.range;
    if (!(start >= 0 && start <= end && end <= fileLength(target.path))) {
      return `edit target ${target.target} spans ${start}..${end} in ${target.path}`;
    }
  }
  const probes = [-1, 0.5, NaN, Infinity, "1", null, { valueOf: () => 1 }, 2 ** 53, linked.length + 1];
  for (const segment of segments) probes.push(segment.start, segment.end - 1, segment.end);
  for (let offset = 0; offset <= linked.length; offset += 97) probes.push(offset);
  probes.push(linked.length);
  for (const offset of probes) {
    let place;
    try {
      place = mapProjectLocation(program, offset);
    } catch (error) {
      if (error instanceof ProjectDiagnostic && error.code === "PROJECT_LOCATION") continue;
      return `mapProjectLocation(${String(offset)}) threw ${describeError(error)}`;
    }
    const valid = Number.isSafeInteger(offset) && offset >= 0 && offset <= linked.length;
    const source = suppliedSource(options, place.path);
    if (!valid || source === null || !(place.offset >= 0 && place.offset <= source.length)) {
      return `mapProjectLocation(${String(offset)}) answered ${JSON.stringify(place)}`;
    }
    const { line, column } = position(source, place.offset);
    if (place.line !== line || place.column !== column) return `mapProjectLocation(${offset}) answered ${place.line}:${place.column}, expected ${line}:${column}`;
  }
  return null;
}

export async function checkProject(entry, options) {
  const start = performance.now();
  let fault;
  try {
    const program = await compileProject(entry, options);
    fault = isCompiledProgram(program) ? null : "resolved with something other than a compiler-issued Program";
    if (fault === null) {
      try {
        fault = metadataFault(program, options);
      } catch (error) {
        fault = `reading the project metadata threw ${describeError(error)}`;
      }
    }
  } catch (error) {
    try {
      fault = errorFault(error, options);
    } catch (inner) {
      fault = `inspecting the rejection threw ${describeError(inner)}`;
    }
  }
  const ms = performance.now() - start;
  if (fault === null && ms > SLOW_PROJECT_MS) fault = `took ${Math.round(ms)} ms`;
  return fault;
}

// Printable form of a call, for fault reports.
export function describeCall(entry, options) {
  const seen = new WeakSet();
  let text;
  try {
    text = JSON.stringify({ entry, options }, (key, value) => {
      if (typeof value === "bigint" || typeof value === "symbol" || typeof value === "function") return String(value);
      if (value !== null && typeof value === "object") {
        if (seen.has(value)) return "[seen]";
        seen.add(value);
      }
      return value;
    });
  } catch (error) {
    text = `(not printable: ${describeError(error)})`;
  }
  return text.length > 400 ? `${text.slice(0, 400)}…` : text;
}

// ------------------------------------------------------------ differential

const bareMessage = (message) => message.replace(/ \(line \d+, column \d+\)$/, "");

export async function checkSingleFileProject(source) {
  let direct;
  let linked;
  try {
    direct = compileModule(source);
  } catch (error) {
    direct = error;
  }
  try {
    linked = await compileProject("main.quelt", { sources: { "main.quelt": { source, sha256: await sha256Hex(source) } } });
  } catch (error) {
    linked = error;
  }
  const directFailed = direct instanceof Error;
  const linkedFailed = linked instanceof Error;
  if (!directFailed && linkedFailed) {
    // The linked text is longer (header, mangled names): it may exceed the
    // source bound that the file itself fits.
    if (linked.code === "SOURCE_LIMIT") return null;
    return `compileModule compiles the source, compileProject fails with ${describeError(linked)}`;
  }
  if (directFailed && !linkedFailed) return `compileProject compiles the source, compileModule fails with ${describeError(direct)}`;
  // Faults of the per-file parse come before the linked compile and are the
  // linker's own; faults of the linked compile carry linkedLocation.
  if (linkedFailed && linked instanceof CompileDiagnostic && linked.linkedLocation !== undefined) {
    if (!(direct instanceof CompileDiagnostic)) return `compileModule threw ${describeError(direct)}`;
    if (direct.code !== linked.code || direct.offset !== linked.offset || bareMessage(direct.message) !== bareMessage(linked.message)) {
      return `compileModule reports ${direct.code} at ${direct.offset} "${bareMessage(direct.message)}", the project ${linked.code} at ${linked.offset} "${bareMessage(linked.message)}"`;
    }
  }
  return null;
}
