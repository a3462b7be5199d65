// quelt-feed: runs a program with a file as its standard input, by replacing
// itself with that program (no extra process). hyperfine's -N mode gives
// commands an empty standard input and has no input option in the
// installed release; this is the smallest way to time a request.
//
//   quelt-feed INPUT_FILE PROGRAM [ARGUMENTS...]
#include <fcntl.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const int input = open(argv[1], O_RDONLY | O_CLOEXEC);
  if (input < 0 || dup2(input, STDIN_FILENO) < 0) return 2;
  execv(argv[2], argv + 2);
  return 127;
}
