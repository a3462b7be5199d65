// quelt-request: builds the canonical request for quelt-native from a folder
// of .quelt files.
//
//   quelt-request --operation check|run --entry PATH [--inputs JSON]
//                 [--budget JSON] [--newline] DIR
//
// Keys come in the order format, operation, entry, sources, inputs, budget.
// Sources are keyed by the '/'-separated path of every .quelt file under
// DIR, in UTF-16 code-unit order, each {"source": text, "sha256": hex}.
// Strings are escaped exactly as JSON.stringify escapes them. The --inputs
// and --budget texts are inserted as given (defaults [] and {}). No final
// line feed unless --newline is given.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "json_text.hpp"

namespace {

namespace fs = std::filesystem;

struct Options {
  std::string operation;
  std::string entry;
  std::string inputs = "[]";
  std::string budget = "{}";
  bool newline = false;
  std::string folder;
};

struct Source {
  std::string path;
  std::u16string order_key;
  std::string text;
};

// Decodes UTF-8 into UTF-16 code units; false on malformed input.
bool to_utf16(const std::string& text, std::u16string& out) {
  out.clear();
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || i + length > text.size()) return false;
    char32_t value = length == 1 ? lead : lead & (0xFF >> (length + 1));
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      value = (value << 6) | (next & 0x3F);
    }
    static const char32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < minimum[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
    if (value >= 0x10000) {
      value -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (value >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (value & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(value));
    }
    i += length;
  }
  return true;
}

int usage() {
  std::fprintf(stderr,
               "usage: quelt-request --operation check|run --entry PATH [--inputs JSON] [--budget JSON] "
               "[--newline] DIR\n");
  return 2;
}

int fail(const std::string& message) {
  std::fprintf(stderr, "quelt-request: %s\n", message.c_str());
  return 1;
}

bool parse(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool takes_value = arg == "--operation" || arg == "--entry" || arg == "--inputs" || arg == "--budget";
    if (takes_value && i + 1 >= argc) return false;
    if (arg == "--operation") options.operation = argv[++i];
    else if (arg == "--entry") options.entry = argv[++i];
    else if (arg == "--inputs") options.inputs = argv[++i];
    else if (arg == "--budget") options.budget = argv[++i];
    else if (arg == "--newline") options.newline = true;
    else if (arg.rfind("--", 0) == 0 || !options.folder.empty()) return false;
    else options.folder = arg;
  }
  return (options.operation == "check" || options.operation == "run") && !options.entry.empty() &&
         !options.folder.empty();
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse(argc, argv, options)) return usage();
  std::error_code error;
  const fs::path root(options.folder);
  if (!fs::is_directory(root, error)) return fail(options.folder + " is not a folder");

  std::vector<Source> sources;
  for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    if (!it->is_regular_file() || it->path().extension() != ".quelt") continue;
    Source source;
    source.path = it->path().lexically_relative(root).generic_string();
    std::ifstream stream(it->path(), std::ios::binary);
    std::ostringstream contents;
    contents << stream.rdbuf();
    if (!stream) return fail("cannot read " + it->path().string());
    source.text = contents.str();
    std::u16string ignored;
    if (!to_utf16(source.text, ignored)) return fail(source.path + " is not valid UTF-8");
    if (!to_utf16(source.path, source.order_key)) return fail(source.path + ": path is not valid UTF-8");
    sources.push_back(std::move(source));
  }
  if (error) return fail("cannot list " + options.folder + ": " + error.message());
  std::sort(sources.begin(), sources.end(),
            [](const Source& a, const Source& b) { return a.order_key < b.order_key; });

  std::string out = "{\"format\":\"quelt-native-project-json-v1\",\"operation\":";
  quelt::append_json_string(out, options.operation);
  out += ",\"entry\":";
  quelt::append_json_string(out, options.entry);
  out += ",\"sources\":{";
  for (std::size_t i = 0; i < sources.size(); ++i) {
    if (i > 0) out += ',';
    quelt::append_json_string(out, sources[i].path);
    out += ":{\"source\":";
    quelt::append_json_string(out, sources[i].text);
    out += ",\"sha256\":\"" + quelt::sha256_hex(sources[i].text) + "\"}";
  }
  out += "},\"inputs\":" + options.inputs + ",\"budget\":" + options.budget + "}";
  if (options.newline) out += '\n';
  const bool written = std::fwrite(out.data(), 1, out.size(), stdout) == out.size();
  return written && std::fflush(stdout) == 0 ? 0 : 1;
}
