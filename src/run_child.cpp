#include "run_child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <cerrno>
#include <cstring>
#include <iterator>

namespace quarn_run {

namespace {

// Written to by the SIGCHLD handler, so that poll wakes when a child ends.
int childEnded[2] = {-1, -1};

extern "C" void on_child_end(int /*signal*/) {
  const int saved = errno;
  static_cast<void>(write(childEnded[1], "", 1));
  errno = saved;
}

// In the child, which shares the launcher's memory until it execs (vfork):
// its output into the pipes, with the signals as a shell would leave them,
// and only system calls. It dies with the launcher, which alone would
// otherwise end it. Where the program cannot be run, why is left in
// `failure` for the launcher, which goes on once this has ended.
[[noreturn]] void exec_child(char** argv, const int (&out)[2],
                             const int (&err)[2], pid_t launcher,
                             volatile int& failure) {
  dup2(out[1], STDOUT_FILENO);
  dup2(err[1], STDERR_FILENO);
  signal(SIGPIPE, SIG_DFL);
  signal(SIGCHLD, SIG_DFL);
#ifdef __linux__
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != launcher) _exit(127);
#else
  static_cast<void>(launcher);
#endif
  execvp(argv[0], argv);
  failure = errno;
  _exit(127);
}

// One wait for the child to write, close its output or end, up to the
// deadline; false once it has passed.
bool step(Child& child, Clock::time_point deadline) {
  if (child.running()) {
    child.reaped = waitpid(child.pid, &child.status, WNOHANG) > 0;
  }
  pollfd fds[] = {{childEnded[0], POLLIN, 0},
                  {child.fds[0], POLLIN, 0},
                  {child.fds[1], POLLIN, 0}};
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  if (left.count() <= 0) return false;
  if (poll(fds, std::size(fds), static_cast<int>(left.count())) <= 0) {
    return true;
  }
  char block[8192];
  if (fds[0].revents != 0) {
    static_cast<void>(read(childEnded[0], block, sizeof block));
  }
  for (int i = 0; i < 2; ++i) {
    if (fds[i + 1].revents == 0) continue;
    const ssize_t got = read(child.fds[i], block, sizeof block);
    if (got > 0) child.text[i].append(block, static_cast<std::size_t>(got));
    if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) {
      close(child.fds[i]);
      child.fds[i] = -1;
    }
  }
  return true;
}

// How the child ended; one still running is killed and reaped first.
Ending end(Child& child) {
  Ending ending{Ending::How::Exited, 0, child.text[1]};
  if (child.pid == -1)
    return {Ending::How::Exited, 127, "quarn: cannot fork\n"};
  if (child.running()) {
    kill(child.pid, SIGKILL);
    waitpid(child.pid, &child.status, 0);
    child.reaped = true;
    ending.how = Ending::How::TimedOut;
  } else if (WIFSIGNALED(child.status)) {
    ending = {Ending::How::Signalled, WTERMSIG(child.status), child.text[1]};
  } else {
    ending.code = WEXITSTATUS(child.status);
  }
  return ending;
}

}  // namespace

bool prepare_for_children() {
  struct sigaction onEnd {};
  onEnd.sa_handler = on_child_end;
  return pipe2(childEnded, O_CLOEXEC | O_NONBLOCK) == 0 &&
         sigaction(SIGCHLD, &onEnd, nullptr) == 0;
}

Child start(char** argv) {
  Child child;
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0) return child;
  if (pipe2(err, O_CLOEXEC) != 0) {
    close(out[0]), close(out[1]);
    return child;
  }
  const pid_t launcher = getpid();
  volatile int failure = 0;
  // A fork would copy this process's page tables, for a child that only
  // execs: a millisecond of every run.
  child.pid = vfork();
  if (child.pid == 0) exec_child(argv, out, err, launcher, failure);
  close(out[1]), close(err[1]);
  child.fds[0] = out[0], child.fds[1] = err[0];
  if (child.pid == -1) close(out[0]), close(err[0]), child.fds[0] = -1;
  if (failure != 0) {
    child.text[1] = std::string("quarn: cannot run ") + argv[0] + ": " +
                    std::strerror(failure) + "\n";
  }
  return child;
}

Ending wait_for(Child& child, Clock::time_point deadline) {
  while (!child.done() && step(child, deadline)) {
  }
  return end(child);
}

std::string output_of(std::vector<std::string> words) {
  std::vector<char*> argv;
  argv.reserve(words.size() + 1);
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  Child child = start(argv.data());
  wait_for(child, Clock::now() + std::chrono::minutes(1));
  return child.text[0];
}

}  // namespace quarn_run
