#include "utf8.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

bool valid(const std::vector<unsigned char>& bytes) {
  return quelt::is_valid_utf8(bytes.data(), bytes.size());
}

struct Utf8Case {
  const char* label;
  std::vector<unsigned char> bytes;
  bool expected;
};

TEST(Utf8, ClassifiesByteSequences) {
  const std::vector<Utf8Case> cases = {
      {"empty", {}, true},
      {"ascii", {'a', 'b', 'c'}, true},
      {"NUL byte inside", {'a', 0x00, 'b'}, true},
      {"smallest 2-byte", {0xC2, 0x80}, true},
      {"largest 2-byte", {0xDF, 0xBF}, true},
      {"smallest 3-byte", {0xE0, 0xA0, 0x80}, true},
      {"last before surrogates", {0xED, 0x9F, 0xBF}, true},
      {"first after surrogates", {0xEE, 0x80, 0x80}, true},
      {"U+FFFF", {0xEF, 0xBF, 0xBF}, true},
      {"smallest 4-byte", {0xF0, 0x90, 0x80, 0x80}, true},
      {"U+10FFFF", {0xF4, 0x8F, 0xBF, 0xBF}, true},
      {"overlong C0 80", {0xC0, 0x80}, false},
      {"overlong C1 BF", {0xC1, 0xBF}, false},
      {"overlong E0 80 80", {0xE0, 0x80, 0x80}, false},
      {"overlong E0 9F BF", {0xE0, 0x9F, 0xBF}, false},
      {"overlong F0 8F BF BF", {0xF0, 0x8F, 0xBF, 0xBF}, false},
      {"surrogate ED A0 80", {0xED, 0xA0, 0x80}, false},
      {"surrogate ED BF BF", {0xED, 0xBF, 0xBF}, false},
      {"above U+10FFFF F4 90 80 80", {0xF4, 0x90, 0x80, 0x80}, false},
      {"lead F5", {0xF5, 0x80, 0x80, 0x80}, false},
      {"lead FF", {0xFF}, false},
      {"lone continuation", {0x80}, false},
      {"2-byte lead at the very end", {'a', 0xC2}, false},
      {"3-byte sequence cut short", {'a', 0xE2, 0x82}, false},
      {"4-byte lead at the very end", {0xF0}, false},
      {"continuation replaced by ASCII", {0xE2, 0x41, 0x82}, false},
      {"continuation replaced by a lead", {0xC3, 0xC3, 0xA9}, false},
      {"bad byte after valid text", {'o', 'k', 0xC3, 0xA9, 0xFE}, false},
  };
  for (const Utf8Case& c : cases) {
    EXPECT_EQ(valid(c.bytes), c.expected) << c.label;
  }
}

}  // namespace
