#include "process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

extern char** environ;

namespace {

std::string read_all(int fd) {
  std::string bytes;
  char block[4096];
  ssize_t got;
  while ((got = read(fd, block, sizeof block)) > 0) bytes.append(block, got);
  return bytes;
}

std::vector<std::string> environment_with_display(const std::string& display) {
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "DISPLAY=", 8) != 0) env.emplace_back(*entry);
  }
  if (!display.empty()) env.push_back("DISPLAY=" + display);
  return env;
}

std::vector<char*> pointers(std::vector<std::string>& words) {
  std::vector<char*> result;
  result.reserve(words.size() + 1);
  for (std::string& word : words) result.push_back(word.data());
  result.push_back(nullptr);
  return result;
}

// In the child: aims descriptor 2 as asked.
void aim_stderr(StderrTo stderrTo, int errFd) {
  int gone[2] = {-1, -1};
  switch (stderrTo) {
    case StderrTo::File:
      dup2(errFd, STDERR_FILENO);
      break;
    case StderrTo::DevFull:
      dup2(open("/dev/full", O_WRONLY), STDERR_FILENO);
      break;
    case StderrTo::Closed:
      close(STDERR_FILENO);
      break;
    case StderrTo::GonePipe:
      if (pipe(gone) == 0) {
        close(gone[0]);
        dup2(gone[1], STDERR_FILENO);
      }
      break;
  }
}

// In the child: aims descriptors 1 and 2 as asked, then starts the program.
[[noreturn]] void exec_child(const std::string& path, char** argv, char** envp,
                             StdoutTo stdoutTo, int outFd, StderrTo stderrTo,
                             int errFd) {
  if (stdoutTo == StdoutTo::Closed) {
    close(STDOUT_FILENO);
  } else if (stdoutTo == StdoutTo::DevFull) {
    const int full = open("/dev/full", O_WRONLY);
    dup2(full, STDOUT_FILENO);
  } else {
    dup2(outFd, STDOUT_FILENO);
  }
  aim_stderr(stderrTo, errFd);
  execve(path.c_str(), argv, envp);
  _exit(127);
}

}  // namespace

Finished run_program(const std::string& path,
                     const std::vector<std::string>& argv,
                     const std::string& display, StdoutTo stdoutTo,
                     StderrTo stderrTo) {
  std::vector<std::string> args = argv;
  std::vector<std::string> env = environment_with_display(display);
  std::vector<char*> argp = pointers(args);
  std::vector<char*> envp = pointers(env);

  std::FILE* outFile = std::tmpfile();
  std::FILE* errFile = std::tmpfile();
  int pipeFds[2] = {-1, -1};
  if (outFile == nullptr || errFile == nullptr ||
      (stdoutTo == StdoutTo::Pipe && pipe(pipeFds) != 0)) {
    throw std::runtime_error("cannot set up the child's streams");
  }
  const int outFd = stdoutTo == StdoutTo::Pipe ? pipeFds[1] : fileno(outFile);

  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    if (pipeFds[0] != -1) close(pipeFds[0]);
    exec_child(path, argp.data(), envp.data(), stdoutTo, outFd, stderrTo,
               fileno(errFile));
  }

  Finished result;
  if (stdoutTo == StdoutTo::Pipe) {
    close(pipeFds[1]);
    result.out = read_all(pipeFds[0]);
    close(pipeFds[0]);
  }
  int wstatus = 0;
  waitpid(child, &wstatus, 0);
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  if (stdoutTo == StdoutTo::File) {
    lseek(fileno(outFile), 0, SEEK_SET);
    result.out = read_all(fileno(outFile));
  }
  lseek(fileno(errFile), 0, SEEK_SET);
  result.err = read_all(fileno(errFile));
  std::fclose(outFile);
  std::fclose(errFile);
  return result;
}

std::string test_display(const std::string& xvfbDir) {
  std::ifstream file(xvfbDir + "/display");
  std::string display;
  std::getline(file, display);
  if (!display.empty()) setenv("XAUTHORITY", (xvfbDir + "/auth").c_str(), 1);
  return display;
}
