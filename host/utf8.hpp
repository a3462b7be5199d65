// Strict UTF-8 validation, shared by the request check and the response
// hand-over.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quelt {

// True when the bytes are well-formed UTF-8: shortest forms only, no
// surrogate code points, nothing above U+10FFFF. NUL bytes are allowed.
bool is_valid_utf8(const std::uint8_t* bytes, std::size_t size) noexcept;

}  // namespace quelt
