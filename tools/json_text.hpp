// Small text helpers shared by the request tool, the test host and the host
// tests: JSON string quoting exactly as JSON.stringify writes it, and the
// lowercase hexadecimal SHA-256 of a text.
#pragma once

// Direct SHA-256 functions: they do not depend on OpenSSL's configuration.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

#include <cstdio>
#include <string>

namespace quelt {

// Appends `text` (UTF-8) as a JSON string literal: backslash before `"` and
// `\`, the short escapes b t n f r, other control characters as \u00xx in
// lower case, everything else literal.
inline void append_json_string(std::string& out, const std::string& text) {
  out += '"';
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\f': out += "\\f"; break;
      case '\r': out += "\\r"; break;
      default:
        if (byte < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

inline std::string sha256_hex(const std::string& text) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256_CTX hashing;
  SHA256_Init(&hashing);
  SHA256_Update(&hashing, text.data(), text.size());
  SHA256_Final(digest, &hashing);
  static const char hex[] = "0123456789abcdef";
  std::string out;
  for (const unsigned char byte : digest) {
    out += hex[byte >> 4];
    out += hex[byte & 15];
  }
  return out;
}

}  // namespace quelt
