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
//   shortTextJsonBytes(text) -> jsonTextBytes by one scan, for texts of at most
//                              SHORT_TEXT code units (any length is correct).
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
  } else if (plainAscii(text)) return length;
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

export function hex4(unit) {
  return unit.toString(16).padStart(4, "0");
}

// The JSON form of a text is the engine's JSON.stringify form: quotation
// mark, reverse solidus, \b \f \n \r \t as short escapes, other units below
// U+0020 and unpaired surrogates as \u with four lowercase hexadecimal digits,
// everything else (paired surrogates included) written as it is.
export function jsonQuote(text) {
  return JSON.stringify(text);
}

// Every escape is ASCII and no unpaired surrogate survives quoting, so the
// quoted text's UTF-8 length is the JSON text's size; when nothing was escaped
// it is the text's own UTF-8 length plus the two quotes.
export function jsonTextBytes(text) {
  if (text.length <= SHORT_TEXT) return shortTextJsonBytes(text);
  const quoted = JSON.stringify(text);
  return quoted.length === text.length + 2 ? utf8Length(text) + 2 : utf8Length(quoted);
}

// Texts up to this length are measured by a scan rather than by quoting.
export const SHORT_TEXT = 64;

// The global `escape` leaves the ASCII letters and digits and @*_+-./ as they
// are and writes every other code unit as %XX or %uXXXX. A text it gives back
// at the same length holds only those characters: one UTF-8 byte each, none
// escaped in JSON. One native call instead of a scan for the common short
// names, codes and identifiers; other texts are scanned.
const escapeUnits = typeof globalThis.escape === "function" ? globalThis.escape : null;

function plainAscii(text) {
  return escapeUnits !== null && escapeUnits(text).length === text.length;
}

// The UTF-8 size of a text's JSON text, by one scan: two bytes for \" \\ \b
// \f \n \r \t, six for other control characters and for unpaired
// surrogates (written \uXXXX), otherwise the UTF-8 size of each character.
export function shortTextJsonBytes(text) {
  const length = text.length;
  // plainAscii, written out: most texts measured here are plain.
  if (escapeUnits !== null && escapeUnits(text).length === length) return length + 2;
  let bytes = 2;
  for (let i = 0; i < length; i += 1) {
    const unit = text.charCodeAt(i);
    if (unit < 0x80) {
      if (unit >= 0x20) bytes += unit === 0x22 || unit === 0x5c ? 2 : 1;
      else bytes += (unit >= 8 && unit <= 10) || unit === 12 || unit === 13 ? 2 : 6;
    } else if (unit < 0x800) bytes += 2;
    else if (unit < 0xd800 || unit > 0xdfff) bytes += 3;
    else if (unit <= 0xdbff && i + 1 < length && isTrailSurrogate(text.charCodeAt(i + 1))) {
      bytes += 4;
      i += 1;
    } else bytes += 6;
  }
  return bytes;
}

function isTrailSurrogate(unit) {
  return unit >= 0xdc00 && unit <= 0xdfff;
}

export function jsonTextBytesOf(text, utf8) {
  const quoted = JSON.stringify(text);
  return quoted.length === text.length + 2 ? utf8 + 2 : utf8Length(quoted);
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
