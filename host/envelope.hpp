// The host's own fixed error line and the one write of the response.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace quelt {

inline constexpr std::size_t kEnvelopeBufferSize = 384;

// Formats the error envelope (with its final line feed) into `out`. Returns
// false when the formatted text does not fit the 384-byte buffer.
bool format_envelope(const char* code, const char* phase, std::string& out);

// Writes all bytes and flushes. False on a short write or a failed flush.
bool write_all(std::FILE* stream, const void* data, std::size_t size);

// Formats and writes the envelope; the process exit status for it.
int write_envelope(std::FILE* stream, const char* code, const char* phase);

}  // namespace quelt
