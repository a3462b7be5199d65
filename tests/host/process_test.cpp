// Runs the built quelt-native as a process: argument refusal without
// reading, and the exit status when standard output is gone.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include <string>
#include <vector>

#include "envelope.hpp"

namespace {

struct Finished {
  int status = -1;  // exit status, or -1 when killed / still running
  std::string out;
  std::string err;
};

std::string drain(int fd) {
  std::string text;
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return text;
}

// Starts quelt-native with `args`. The input pipe is written with `input`
// and closed unless `keep_input_open`; the output pipe's read end is closed
// before the child starts when `close_output`. Waits at most `timeout_ms`.
// With `stack_bytes`, the child's stack limit (soft and hard) is set first.
Finished run_native(const std::vector<std::string>& args, const std::string& input, bool keep_input_open,
                    bool close_output, int timeout_ms = 10000, rlim_t stack_bytes = 0) {
  int in[2], out[2], err[2];
  if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    if (stack_bytes != 0) {
      const rlimit limit{stack_bytes, stack_bytes};
      setrlimit(RLIMIT_STACK, &limit);
    }
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    std::vector<char*> argv;
    std::string program = QUELT_NATIVE;
    argv.push_back(program.data());
    std::vector<std::string> copies = args;
    for (std::string& arg : copies) argv.push_back(arg.data());
    argv.push_back(nullptr);
    signal(SIGPIPE, SIG_DFL);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  if (close_output) close(out[0]);
  if (!input.empty()) {
    signal(SIGPIPE, SIG_IGN);
    for (std::size_t done = 0; done < input.size();) {
      const ssize_t n = write(in[1], input.data() + done, input.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
  }
  if (!keep_input_open) close(in[1]);

  Finished finished;
  int status = 0;
  pid_t done = 0;
  for (int waited = 0; waited < timeout_ms; waited += 5) {
    done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    usleep(5000);
  }
  if (done != pid) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  } else if (WIFEXITED(status)) {
    finished.status = WEXITSTATUS(status);
  }
  if (!close_output) finished.out = drain(out[0]);
  finished.err = drain(err[0]);
  if (!close_output) close(out[0]);
  close(err[0]);
  if (keep_input_open) close(in[1]);
  return finished;
}

std::string envelope(const char* code, const char* phase) {
  std::string line;
  quelt::format_envelope(code, phase, line);
  return line;
}

TEST(Process, AnyArgumentIsRefusedWithoutReadingInput) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"check"}, std::vector<std::string>{""}, std::vector<std::string>{"-", "x"}}) {
    // The input stays open: the host must answer without waiting for it.
    const Finished finished = run_native(args, "", true, false, 5000);
    EXPECT_EQ(finished.status, 0);
    EXPECT_EQ(finished.out, envelope("NATIVE_REQUEST", "request"));
    EXPECT_EQ(finished.err, "");
  }
}

TEST(Process, ClosedOutputGivesExitStatusOne) {
  // A refused empty request still produces a line; nobody reads it.
  const Finished refused = run_native({}, "", false, true);
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, "");
  const Finished with_args = run_native({"x"}, "", false, true);
  EXPECT_EQ(with_args.status, 1);
}

TEST(Process, EmptyInputIsAnsweredByTheEntryModule) {
  const Finished finished = run_native({}, "", false, false);
  EXPECT_EQ(finished.status, 0);
  EXPECT_EQ(finished.out, envelope("NATIVE_REQUEST", "request"));
  EXPECT_EQ(finished.err, "");
}

TEST(Process, DeepRecursionIsAScriptErrorEvenOnASmallStack) {
  // A million nested arrays overflow the engine's stack inside JSON.parse;
  // the entry module refuses the request instead of the process crashing,
  // also when the process stack cannot grow to the engine's 8 MiB.
  const std::string nested(1000000, '[');
  for (const rlim_t stack : {rlim_t{0}, rlim_t{8} << 20, rlim_t{2} << 20}) {
    const Finished finished = run_native({}, nested, false, false, 20000, stack);
    EXPECT_EQ(finished.status, 0) << stack;
    EXPECT_EQ(finished.out, envelope("NATIVE_REQUEST", "request")) << stack;
    EXPECT_EQ(finished.err, "") << stack;
  }
}

TEST(Process, DigestsDoNotDependOnTheOpenSslConfiguration) {
  // A configuration that activates only a provider without digests makes
  // OpenSSL's provider-based SHA-256 fail; the host's digests must not care.
  const std::string config = testing::TempDir() + "quelt-openssl-" + std::to_string(getpid()) + ".cnf";
  std::ofstream(config) << "openssl_conf = openssl_init\n[openssl_init]\nproviders = prov\n"
                           "[prov]\nbase = base_sect\n[base_sect]\nactivate = 1\n";
  const std::string command = std::string(QUELT_REQUEST) + " --operation check --entry main.quelt '" +
                              QUELT_SOURCE_DIR + "/examples/hello' | OPENSSL_CONF='" + config + "' " + QUELT_NATIVE;
  std::FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string out;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  std::remove(config.c_str());
  EXPECT_EQ(out,
            "{\"format\":\"quelt-native-project-json-v1\",\"status\":\"ok\","
            "\"profile\":\"closed-pure-native-project-macos-v1\",\"contract\":{\"name\":\"hello\",\"astVersion\":6,"
            "\"inputs\":[{\"name\":\"name\",\"type\":\"Text\",\"hasDefault\":true}],\"outputs\":[\"greeting\"]}}\n");
}

}  // namespace
