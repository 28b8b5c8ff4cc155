// The launcher's children: programs run with their standard output and
// error read through pipes, waited for up to a deadline, and killed and
// reaped where they outlive it.
#ifndef QUARN_RUN_CHILD_H
#define QUARN_RUN_CHILD_H

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "run_verdict.h"

namespace quarn_run {

using Clock = std::chrono::steady_clock;

// A program run with its output read through pipes.
struct Child {
  pid_t pid = -1;
  int fds[2] = {-1, -1};  // its standard output and error; -1 once closed
  std::string text[2];
  bool reaped = false;
  int status = 0;
  bool running() const { return pid != -1 && !reaped; }
  bool done() const {
    return pid == -1 || (reaped && fds[0] == -1 && fds[1] == -1);
  }
};

// Sets up the wait for children: false, with errno, where it cannot be.
bool prepare_for_children();

// Starts argv[0] (from PATH where it names no folder) with the arguments.
Child start(char** argv);

// How the child ended, its output read whole: where it has not ended and
// closed its output by the deadline, it is killed and reaped.
Ending wait_for(Child& child, Clock::time_point deadline);

// The child's standard output once it has ended, within a minute.
std::string output_of(std::vector<std::string> words);

}  // namespace quarn_run

#endif  // QUARN_RUN_CHILD_H
