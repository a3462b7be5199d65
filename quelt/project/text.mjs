// Code-unit level facts about strings.

let encoder = null;

// UTF-8 length of a string (a lone surrogate counts three, as the encoder's
// replacement character does). Long texts go through the platform encoder,
// which is far faster than a loop of code units in an interpreter.
export function utf8Length(text) {
  if (text.length > 256 && typeof TextEncoder === "function") {
    encoder ??= new TextEncoder();
    return encoder.encode(text).length;
  }
  let bytes = text.length;
  for (let index = 0; index < text.length; index += 1) {
    const unit = text.charCodeAt(index);
    if (unit < 0x80) continue;
    if (unit < 0x800) {
      bytes += 1;
      continue;
    }
    bytes += 2;
    if (unit <= 0xdbff && unit >= 0xd800) {
      const next = text.charCodeAt(index + 1);
      if (next >= 0xdc00 && next <= 0xdfff) index += 1; // a pair: 2 units, 4 bytes
    }
  }
  return bytes;
}

export function isWellFormed(text) {
  if (typeof text.isWellFormed === "function") return text.isWellFormed();
  for (let index = 0; index < text.length; index += 1) {
    const unit = text.charCodeAt(index);
    if (unit < 0xd800 || unit > 0xdfff) continue;
    if (unit > 0xdbff) return false;
    const next = text.charCodeAt(index + 1);
    if (!(next >= 0xdc00 && next <= 0xdfff)) return false;
    index += 1;
  }
  return true;
}
