import { test, assert, assertEqual, assertDeepEqual, assertThrows } from "../harness.mjs";
import { copyInterfaces } from "../../../quelt/compiler/interfaces.mjs";
import { CompileDiagnostic } from "../../../quelt/compiler/diagnostics.mjs";

const declaration = (params = ["Int"], result = "Text", effects = []) => ({ params, result, effects });

function fails(value, code, message, label) {
  assertThrows(() => copyInterfaces(value), {
    type: CompileDiagnostic, code, offset: 0, line: 1, column: 1, message: `${message} (line 1, column 1)`,
  }, label);
}

test("copyInterfaces: copies valid declarations in sorted key order", () => {
  const params = ["Int", "Float[]?"];
  const effects = ["net.read", "a:b-c_1"];
  const input = {
    "z.last": declaration([], "Record", []),
    "_x.y_1": declaration(params, "Truth?", effects),
    "B.up": declaration(),
    "a.b": { effects: [], result: "Int", params: [] },
  };
  const copy = copyInterfaces(input);
  assertDeepEqual(Object.keys(copy), ["B.up", "_x.y_1", "a.b", "z.last"]);
  assertDeepEqual(copy["_x.y_1"], { params: ["Int", "Float[]?"], result: "Truth?", effects: ["net.read", "a:b-c_1"] });
  assertDeepEqual(Object.keys(copy["a.b"]), ["params", "result", "effects"]);
  assert(copy["_x.y_1"].params !== params && copy["_x.y_1"].effects !== effects, "lists are copied");
  assert(Object.isFrozen(copy) && Object.isFrozen(copy["B.up"]) && Object.isFrozen(copy["B.up"].params), "frozen");
  params.push("Text");
  assertEqual(copy["_x.y_1"].params.length, 2);

  assertDeepEqual(copyInterfaces({}), {});
  const bare = Object.create(null);
  bare["m.f"] = Object.assign(Object.create(null), declaration());
  assertDeepEqual(Object.keys(copyInterfaces(bare)), ["m.f"]);
  const longest = `${"m".repeat(64)}.${"f".repeat(64)}`;
  assertDeepEqual(Object.keys(copyInterfaces({ [longest]: declaration() })), [longest]);
});

test("copyInterfaces: the option must be a plain object", () => {
  class Holder {}
  for (const value of [[], "a.b", null, undefined, 3, new Holder(), new Map()]) {
    fails(value, "INTERFACES", "interfaces must be a plain object", String(value));
  }
});

test("copyInterfaces: more than 256 keys fail before names are looked at", () => {
  const many = {};
  for (let i = 0; i < 256; i += 1) many[`m.f${i}`] = declaration();
  assertEqual(Object.keys(copyInterfaces(many)).length, 256);
  many["not a name"] = 1;
  fails(many, "INTERFACE_LIMIT", "Interface limit is 256");
  const hidden = {};
  for (let i = 0; i < 256; i += 1) hidden[`m.f${i}`] = declaration();
  Object.defineProperty(hidden, "m.g", { value: declaration(), enumerable: false });
  fails(hidden, "INTERFACE_LIMIT", "Interface limit is 256", "non-enumerable keys count");
});

test("copyInterfaces: adapter name rule", () => {
  const nameMessage = "Interface names must be module.function identifiers";
  for (const name of ["store", "a.b.c", "1a.b", "a.1b", ".b", "a.", "a-b.c", "é.f", `${"m".repeat(65)}.f`, `m.${"f".repeat(65)}`]) {
    fails({ [name]: declaration() }, "INTERFACES", nameMessage, name);
  }
  fails({ [Symbol("a.b")]: declaration() }, "INTERFACES", nameMessage, "symbol key");
});

test("copyInterfaces: declaration failures", () => {
  let getterCalls = 0;
  const withGetter = (field) => {
    const record = declaration();
    Object.defineProperty(record, field, { get() { getterCalls += 1; return ["Int"]; }, enumerable: true });
    return record;
  };
  const sparse = ["Int", "Int"];
  delete sparse[0];
  const extraKey = ["Int"];
  extraKey.note = 1;
  const accessorItem = [];
  Object.defineProperty(accessorItem, "0", { get: () => "Int", enumerable: true, configurable: true });
  const hiddenField = declaration();
  Object.defineProperty(hiddenField, "notes", { value: 1, enumerable: false });
  const invalid = "Invalid interface m.f";
  const exactly = "Interface m.f requires exactly params, result, effects";
  const getters = "Interface m.f cannot contain getters";
  const lists = "Invalid types or effects for interface m.f";
  const cases = [
    ["null declaration", null, invalid],
    ["array declaration", [], invalid],
    ["class declaration", new (class Decl { constructor() { Object.assign(this, declaration()); } })(), invalid],
    ["fourth field", { ...declaration(), extra: 1 }, exactly],
    ["missing effects", { params: [], result: "Int" }, exactly],
    ["hidden fourth field", hiddenField, exactly],
    ["symbol field", { ...declaration(), [Symbol("x")]: 1 }, exactly],
    ["accessor result", withGetter("result"), getters],
    ["accessor params", withGetter("params"), getters],
    ["named param type", declaration(["Shape"]), lists],
    ["invalid param type", declaration(["Int??"]), lists],
    ["sparse params", declaration(sparse), lists],
    ["params with extra key", declaration(extraKey), lists],
    ["params with accessor", declaration(accessorItem), lists],
    ["params not a list", declaration({ 0: "Int", length: 1 }), lists],
    ["17 params", declaration(new Array(17).fill("Int")), lists],
    ["invalid result", declaration(["Int"], "Person"), lists],
    ["undefined result", { params: ["Int"], result: undefined, effects: [] }, lists],
    ["duplicate effect", declaration(["Int"], "Int", ["io", "io"]), lists],
    ["empty effect", declaration(["Int"], "Int", [""]), lists],
    ["effect starting with a digit", declaration(["Int"], "Int", ["1io"]), lists],
    ["effect with a space", declaration(["Int"], "Int", ["a b"]), lists],
    ["65-character effect", declaration(["Int"], "Int", ["e".repeat(65)]), lists],
    ["17 effects", declaration(["Int"], "Int", Array.from({ length: 17 }, (_, i) => `e${i}`)), lists],
  ];
  for (const [label, value, message] of cases) fails({ "m.f": value }, "INTERFACES", message, label);
  assertEqual(getterCalls, 0, "getters are never called");

  const limits = declaration(new Array(16).fill("Int"), "Int", Array.from({ length: 16 }, (_, i) => `e${i}`));
  limits.effects[0] = "e".repeat(64);
  assertEqual(copyInterfaces({ "m.f": limits })["m.f"].params.length, 16);

  const accessorTop = {};
  Object.defineProperty(accessorTop, "m.f", { get() { getterCalls += 1; return declaration(); }, enumerable: true });
  fails(accessorTop, "INTERFACES", invalid, "accessor declaration");
  assertEqual(getterCalls, 0);
});

test("copyInterfaces: the first failing key in sorted order is reported", () => {
  fails({ "b.f": declaration(["Bad"]), "a.f": null }, "INTERFACES", "Invalid interface a.f");
  fails({ "a.g": declaration(["Bad"]), "a.f": { params: [] } }, "INTERFACES", "Interface a.f requires exactly params, result, effects");
  fails({ "Z.z": null, "a.a": null }, "INTERFACES", "Invalid interface Z.z");
  fails({ "b.f": declaration(), "a b": declaration() }, "INTERFACES", "Interface names must be module.function identifiers");
});
