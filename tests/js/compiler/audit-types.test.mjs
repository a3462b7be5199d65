// `common` is the join that array literals, choose and the operators rely
// on: whatever it answers, both operands must flow into it, and swapping the
// operands never changes it. Checked over every type text the checker meets.
import { test, assert, assertEqual } from "../harness.mjs";
import { common, assignable } from "../../../quelt/compiler/types.mjs";

const BUILT_IN = [];
for (const base of ["Int", "Float", "Text", "Truth", "Record"]) {
  BUILT_IN.push(base, `${base}[]`, `${base}?`, `${base}[]?`);
}
const ALL = [...BUILT_IN, "Unknown", "EmptyArray", "Person", "Outcome"];

test("audit: common answers an upper bound of both operands, symmetrically", () => {
  for (const a of ALL) {
    for (const b of ALL) {
      const joined = common(a, b);
      assertEqual(common(b, a), joined, `common(${b}, ${a})`);
      if (joined === null || joined === "Unknown" || joined === "EmptyArray") continue;
      assert(assignable(a, joined), `${a} should flow into common(${a}, ${b}) = ${joined}`);
      assert(assignable(b, joined), `${b} should flow into common(${a}, ${b}) = ${joined}`);
    }
  }
});

test("audit: the internal types are only ever sources", () => {
  for (const to of ["Unknown", "EmptyArray"]) {
    for (const from of ALL) assert(!assignable(from, to), `${from} -> ${to}`);
  }
  // Unknown flows into Truth and every optional type, EmptyArray into every array type
  for (const to of BUILT_IN) {
    assertEqual(assignable("Unknown", to), to === "Truth" || to.endsWith("?"), `Unknown -> ${to}`);
    assertEqual(assignable("EmptyArray", to), to.endsWith("[]") || to.endsWith("[]?"), `EmptyArray -> ${to}`);
  }
});
