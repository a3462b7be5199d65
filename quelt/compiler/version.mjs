// The language feature level a module needs: the first row that applies,
// from the newest feature down to version 1.
//
// `features` holds the marks set while reading stages and checking (hasEach,
// hasFold, ...); `module` supplies the declarations that count by themselves.
const FEATURE_ROWS = [
  [25, "hasTextParseFloat"],
  [24, "hasIntBits"],
  [23, null, (module) => module.resultList.length > 0],
  [22, null, (module) => module.schemaList.length > 0],
  [21, "hasRecordJson"],
  [20, "hasRecordFieldCheck"],
  [19, "hasTextParseInt"],
  [18, "hasSortBy"],
  [17, "hasFilter"],
  [16, "hasConcat"],
  [15, "hasRecordFields"],
  [14, "hasTextOps"],
  [13, "hasRecordKeys"],
  [12, "hasTextSlice"],
  [11, "hasScalarText"],
  [10, "hasIntDivision"],
  [9, "hasOptionalData"],
  [8, "hasAppend"],
  [7, "hasAt"],
  [6, "hasTextConcat"],
  [5, "hasRepeat"],
  [4, "hasFold"],
  [3, "hasEach"],
  [2, "hasLocals"],
];

export function moduleVersion(module, features) {
  const effects = module.effectFunctions.size;
  if (effects >= 2) return 27;
  if (effects === 1) return 26;
  for (const [version, mark, test] of FEATURE_ROWS) {
    if (mark === null ? test(module) : features[mark] === true) return version;
  }
  return 1;
}
