// Runs a program as a user would from a shell: a chosen argument vector, a
// chosen display, standard output sent to a file, a pipe, /dev/full or
// nowhere (closed), and standard error to a file, /dev/full, nowhere, or a
// pipe whose reader has gone.
#ifndef QUARN_PROCESS_H
#define QUARN_PROCESS_H

#include <string>
#include <vector>

enum class StdoutTo { File, Pipe, DevFull, Closed };
enum class StderrTo { File, DevFull, Closed, GonePipe };

struct Finished {
  int status = -1;  // exit status, or -1 when ended by a signal
  std::string out;
  std::string err;
};

// argv is passed as given (empty means argc 0). An empty display runs the
// program with no DISPLAY in its environment.
Finished run_program(const std::string& path,
                     const std::vector<std::string>& argv,
                     const std::string& display, StdoutTo stdoutTo,
                     StderrTo stderrTo = StderrTo::File);

// The display of the private X server started with the folder xvfbDir, or ""
// when there is none. When there is one, XAUTHORITY is set to the cookie
// that its clients must present, for this process and the programs it runs.
std::string test_display(const std::string& xvfbDir);

#endif  // QUARN_PROCESS_H
