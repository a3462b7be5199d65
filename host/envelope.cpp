#include "envelope.hpp"

namespace quelt {

namespace {
constexpr const char* kEnvelopeFormat =
    "{\"format\":\"quelt-native-project-json-v1\",\"status\":\"error\","
    "\"profile\":\"closed-pure-native-project-macos-v1\","
    "\"error\":{\"code\":\"%s\",\"phase\":\"%s\",\"location\":null}}\n";
}

bool format_envelope(const char* code, const char* phase, std::string& out) {
  char buffer[kEnvelopeBufferSize];
  const int length = std::snprintf(buffer, sizeof buffer, kEnvelopeFormat, code, phase);
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof buffer) return false;
  out.assign(buffer, static_cast<std::size_t>(length));
  return true;
}

bool write_all(std::FILE* stream, const void* data, std::size_t size) {
  const std::size_t written = size == 0 ? 0 : std::fwrite(data, 1, size, stream);
  const bool flushed = std::fflush(stream) == 0;
  return written == size && flushed;
}

int write_envelope(std::FILE* stream, const char* code, const char* phase) {
  std::string line;
  if (!format_envelope(code, phase, line)) return 1;
  return write_all(stream, line.data(), line.size()) ? 0 : 1;
}

}  // namespace quelt
