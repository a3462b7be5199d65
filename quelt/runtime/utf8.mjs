// UTF-8 and JSON-text sizes of texts and scalars.
//
// Exports:
//   utf8Length(text)        -> UTF-8 byte length; an unpaired surrogate counts 3.
//   jsonTextBytes(text)     -> UTF-8 bytes of the text's JSON form (quotes and
//                              escapes included; unpaired surrogates are
//                              written as \uXXXX, 6 bytes).
//   jsonTextBytesOf(text, utf8) -> the same, given the text's UTF-8 length.
//   jsonQuote(text)         -> the JSON form of a text (the escaping table shared
//                              by the canonical form and the Record JSON text).
//   scalarJsonBytes(value)  -> UTF-8 bytes of a scalar's JSON text (null, a
//                              boolean, a finite number, a text); negative zero
//                              is written "0" there.
//   scalarCanonicalBytes(value) -> the same for the canonical form, where
//                              negative zero is written "-0".
//   hex4(unit)              -> four lowercase hexadecimal digits.

let sharedEncoder = null;

// Short texts are measured by a scan; long ones by the platform encoder, which
// writes every unpaired surrogate as the three-byte replacement character.
function encoder() {
  if (sharedEncoder === null && typeof TextEncoder === "function") sharedEncoder = new TextEncoder();
  return sharedEncoder;
}

const ENCODER_THRESHOLD = 48;

export function utf8Length(text) {
  const length = text.length;
  if (length > ENCODER_THRESHOLD) {
    const shared = encoder();
    if (shared !== null) return shared.encode(text).length;
  }
  let bytes = 0;
  for (let i = 0; i < length; i += 1) {
    const unit = text.charCodeAt(i);
    if (unit < 0x80) bytes += 1;
    else if (unit < 0x800) bytes += 2;
    else if (unit >= 0xd800 && unit <= 0xdbff && i + 1 < length) {
      const next = text.charCodeAt(i + 1);
      if (next >= 0xdc00 && next <= 0xdfff) {
        bytes += 4;
        i += 1;
      } else bytes += 3;
    } else bytes += 3;
  }
  return bytes;
}

// Units that the JSON form does not write literally: controls, the quotation
// mark, the reverse solidus and every surrogate (paired ones are checked below).
const NEEDS_ESCAPE_SCAN = /[\u0000-\u001f"\\\ud800-\udfff]/;

const SHORT_ESCAPES = {
  0x22: '\\"',
  0x5c: "\\\\",
  0x08: "\\b",
  0x0c: "\\f",
  0x0a: "\\n",
  0x0d: "\\r",
  0x09: "\\t",
};

export function hex4(unit) {
  return unit.toString(16).padStart(4, "0");
}

export function jsonTextBytes(text) {
  if (!NEEDS_ESCAPE_SCAN.test(text)) return utf8Length(text) + 2;
  return escapedTextBytes(text);
}

export function jsonTextBytesOf(text, utf8) {
  return NEEDS_ESCAPE_SCAN.test(text) ? escapedTextBytes(text) : utf8 + 2;
}

function escapedTextBytes(text) {
  let bytes = 2;
  const length = text.length;
  for (let i = 0; i < length; i += 1) {
    const unit = text.charCodeAt(i);
    if (unit < 0x20) bytes += SHORT_ESCAPES[unit] === undefined ? 6 : 2;
    else if (unit === 0x22 || unit === 0x5c) bytes += 2;
    else if (unit < 0x80) bytes += 1;
    else if (unit < 0x800) bytes += 2;
    else if (unit >= 0xd800 && unit <= 0xdfff) {
      const next = i + 1 < length ? text.charCodeAt(i + 1) : 0;
      if (unit <= 0xdbff && next >= 0xdc00 && next <= 0xdfff) {
        bytes += 4;
        i += 1;
      } else bytes += 6;
    } else bytes += 3;
  }
  return bytes;
}

export function jsonQuote(text) {
  if (!NEEDS_ESCAPE_SCAN.test(text)) return `"${text}"`;
  const parts = ['"'];
  const length = text.length;
  let start = 0;
  for (let i = 0; i < length; i += 1) {
    const unit = text.charCodeAt(i);
    let escape;
    if (unit < 0x20 || unit === 0x22 || unit === 0x5c) {
      escape = SHORT_ESCAPES[unit] ?? `\\u${hex4(unit)}`;
    } else if (unit >= 0xd800 && unit <= 0xdfff) {
      const next = i + 1 < length ? text.charCodeAt(i + 1) : 0;
      if (unit <= 0xdbff && next >= 0xdc00 && next <= 0xdfff) {
        i += 1;
        continue;
      }
      escape = `\\u${hex4(unit)}`;
    } else continue;
    if (start < i) parts.push(text.slice(start, i));
    parts.push(escape);
    start = i + 1;
  }
  if (start < length) parts.push(text.slice(start));
  parts.push('"');
  return parts.join("");
}

export function scalarJsonBytes(value) {
  switch (typeof value) {
    case "string":
      return jsonTextBytes(value);
    case "number":
      return String(value).length;
    case "boolean":
      return value ? 4 : 5;
    default:
      return 4;
  }
}

export function scalarCanonicalBytes(value) {
  if (typeof value === "number" && value === 0 && 1 / value < 0) return 2;
  return scalarJsonBytes(value);
}
