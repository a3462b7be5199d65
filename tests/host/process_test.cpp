// Runs the built quelt-native as a process: argument refusal without
// reading, and the exit status when standard output is gone.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

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
Finished run_native(const std::vector<std::string>& args, const std::string& input, bool keep_input_open,
                    bool close_output, int timeout_ms = 10000) {
  int in[2], out[2], err[2];
  if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
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
    (void)!write(in[1], input.data(), input.size());
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

}  // namespace
