// quelt-request builds the canonical request text from a folder.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "json_text.hpp"

namespace {

namespace fs = std::filesystem;

// Runs a shell command line; returns its standard output and exit status.
std::string run(const std::string& command, int& status) {
  std::string out;
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int raw = pclose(pipe);
  status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return out;
}

class RequestTool : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = fs::temp_directory_path() / ("quelt-request-test-" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder / "a");
  }
  void TearDown() override { fs::remove_all(folder); }
  void write(const std::string& path, const std::string& text) {
    std::ofstream(folder / fs::u8path(path), std::ios::binary) << text;
  }
  std::string request(const std::string& args, int& status) {
    return run(std::string(QUELT_REQUEST) + " " + args + " '" + folder.string() + "'", status);
  }
  fs::path folder;
};

TEST_F(RequestTool, OrdersPathsByUtf16CodeUnitsAndEscapesLikeJsonStringify) {
  const std::string tricky = "q\"b\\ \b\t\n\f\r\x01\x1f\x7f \xC3\xA9\xE2\x80\xA8/";
  write("b.quelt", "abc");
  write("B.quelt", "");
  write("a/z.quelt", "");
  write("a.quelt", tricky);
  write("\xEF\xBC\xA1.quelt", "");      // U+FF21
  write("\xF0\x9F\x98\x80.quelt", "");  // U+1F600, a surrogate pair in UTF-16
  write("notes.txt", "not a source");
  const std::string empty = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
  const std::string expected =
      "{\"format\":\"quelt-native-project-json-v1\",\"operation\":\"run\",\"entry\":\"b.quelt\",\"sources\":{"
      "\"B.quelt\":{\"source\":\"\",\"sha256\":\"" + empty + "\"},"
      "\"a.quelt\":{\"source\":\"q\\\"b\\\\ \\b\\t\\n\\f\\r\\u0001\\u001f\x7f \xC3\xA9\xE2\x80\xA8/\",\"sha256\":\"" +
      quelt::sha256_hex(tricky) + "\"},"
      "\"a/z.quelt\":{\"source\":\"\",\"sha256\":\"" + empty + "\"},"
      "\"b.quelt\":{\"source\":\"abc\",\"sha256\":\"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\"},"
      "\"\xF0\x9F\x98\x80.quelt\":{\"source\":\"\",\"sha256\":\"" + empty + "\"},"
      "\"\xEF\xBC\xA1.quelt\":{\"source\":\"\",\"sha256\":\"" + empty + "\"}"
      "},\"inputs\":[[\"n\",{\"tag\":\"null\"}]],\"budget\":{\"maxSteps\":5}}";
  int status = -1;
  const std::string out =
      request("--operation run --entry b.quelt --inputs '[[\"n\",{\"tag\":\"null\"}]]' --budget '{\"maxSteps\":5}'",
              status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out, expected);
  EXPECT_EQ(request("--operation run --entry b.quelt --inputs '[[\"n\",{\"tag\":\"null\"}]]' --budget "
                    "'{\"maxSteps\":5}' --newline",
                    status),
            expected + "\n");
}

TEST_F(RequestTool, DefaultsAndRefusals) {
  write("main.quelt", "x");
  int status = -1;
  EXPECT_EQ(request("--operation check --entry main.quelt", status),
            "{\"format\":\"quelt-native-project-json-v1\",\"operation\":\"check\",\"entry\":\"main.quelt\","
            "\"sources\":{\"main.quelt\":{\"source\":\"x\",\"sha256\":"
            "\"2d711642b726b04401627ca9fbac32f5c8530fb1903cc4db02258717921a4881\"}},\"inputs\":[],\"budget\":{}}");
  EXPECT_EQ(status, 0);
  request("--operation compile --entry main.quelt 2>/dev/null", status);
  EXPECT_NE(status, 0);
  request("--operation check 2>/dev/null", status);
  EXPECT_NE(status, 0);
  write("bad.quelt", "\xC0\x80");
  request("--operation check --entry main.quelt 2>/dev/null", status);
  EXPECT_NE(status, 0) << "a source that is not UTF-8 cannot become a request";
}

}  // namespace
