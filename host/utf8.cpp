#include "utf8.hpp"

namespace quelt {

bool is_valid_utf8(const std::uint8_t* bytes, std::size_t size) noexcept {
  std::size_t pos = 0;
  while (pos < size) {
    const std::uint32_t lead = bytes[pos];
    if (lead < 0x80) {
      pos += 1;
      continue;
    }
    std::size_t length;
    std::uint32_t minimum;
    std::uint32_t value;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      minimum = 0x80;
      value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      minimum = 0x800;
      value = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      minimum = 0x10000;
      value = lead & 0x07;
    } else {
      return false;
    }
    if (size - pos < length) return false;
    for (std::size_t i = 1; i < length; ++i) {
      const std::uint32_t next = bytes[pos + i];
      if ((next & 0xC0) != 0x80) return false;
      value = (value << 6) | (next & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF) return false;
    if (value >= 0xD800 && value <= 0xDFFF) return false;
    pos += length;
  }
  return true;
}

}  // namespace quelt
