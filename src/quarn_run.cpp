// quarn-run: the checkout's run command, which scripts/run starts from
// build/release. It runs quarn on the display with the arguments given and
// passes its report on. Where quarn's toolkit cannot open the display, or
// the display gives no OpenGL context within ten seconds, it says why on
// standard error and has quarn-egl report instead, through EGL, naming the
// device that served. quarn is its own probe: no other client connects
// first. quarn and quarn-egl are found beside this program; where that is a
// Ninja build, one that is not current goes back to scripts/run first.
//   quarn-run [toolkit options]
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "build_check.h"
#include "program.h"
#include "run_verdict.h"

namespace {

using quarn_run::Ending;
using Clock = std::chrono::steady_clock;

// What scripts/run knows of the build it starts this from: "check" it,
// "made" just now, or, handed back by this, "stale". Unset, this is no run
// of scripts/run's, and the build is none of its business.
const char* const kBuild = "QUARN_RUN_BUILD";

// Written to by the SIGCHLD handler, so that poll wakes when a child ends.
int childEnded[2] = {-1, -1};

extern "C" void on_child_end(int /*signal*/) {
  const int saved = errno;
  static_cast<void>(write(childEnded[1], "", 1));
  errno = saved;
}

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

// In the child: its output into the pipes, with the signals as a shell
// would leave them. It dies with the launcher, which alone would otherwise
// end it.
[[noreturn]] void exec_child(char** argv, const int (&out)[2],
                             const int (&err)[2], pid_t launcher) {
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
  std::fprintf(stderr, "quarn: cannot run %s: %s\n", argv[0],
               std::strerror(errno));
  _exit(127);
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
  child.pid = fork();
  if (child.pid == 0) exec_child(argv, out, err, launcher);
  close(out[1]), close(err[1]);
  child.fds[0] = out[0], child.fds[1] = err[0];
  if (child.pid == -1) close(out[0]), close(err[0]), child.fds[0] = -1;
  return child;
}

// One wait for any of the children to write, close or end, up to the
// deadline; false once it has passed.
bool step(const std::vector<Child*>& children, Clock::time_point deadline) {
  std::vector<pollfd> fds{{childEnded[0], POLLIN, 0}};
  for (Child* child : children) {
    if (child->running()) {
      child->reaped = waitpid(child->pid, &child->status, WNOHANG) > 0;
    }
    for (const int fd : child->fds) fds.push_back({fd, POLLIN, 0});
  }
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  if (left.count() <= 0) return false;
  if (poll(fds.data(), fds.size(), static_cast<int>(left.count())) <= 0) {
    return true;
  }
  char block[8192];
  if (fds[0].revents != 0) {
    static_cast<void>(read(childEnded[0], block, sizeof block));
  }
  std::size_t at = 1;
  for (Child* child : children) {
    for (int i = 0; i < 2; ++i, ++at) {
      if (fds[at].revents == 0) continue;
      const ssize_t got = read(child->fds[i], block, sizeof block);
      if (got > 0) child->text[i].append(block, static_cast<std::size_t>(got));
      if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) {
        close(child->fds[i]);
        child->fds[i] = -1;
      }
    }
  }
  return true;
}

// How a child ended; one still running is killed and reaped first.
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

// Hands the run back to scripts/run, which builds, then starts this again.
[[noreturn]] void rebuild(const std::string& folder, char** argv) {
  const std::string script = folder + "/../../scripts/run";
  setenv(kBuild, "stale", 1);
  signal(SIGPIPE, SIG_DFL);
  argv[0] = const_cast<char*>(script.c_str());
  execv(script.c_str(), argv);
  std::fprintf(stderr, "quarn: cannot run %s: %s\n", script.c_str(),
               std::strerror(errno));
  std::exit(127);
}

// The child's standard output once it has ended.
std::string output_of(std::vector<std::string> words) {
  std::vector<char*> argv;
  argv.reserve(words.size() + 1);
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  Child child = start(argv.data());
  const Clock::time_point deadline = Clock::now() + std::chrono::minutes(1);
  while (!child.done() && step({&child}, deadline)) {
  }
  end(child);
  return child.text[0];
}

// Lists what the programs were built from, as Ninja's records name it,
// right after scripts/run has built them.
void record_inputs(const std::string& folder) {
  const std::string inputs =
      output_of({"ninja", "-C", folder, "-t", "inputs", "quarn", "quarn-egl",
                 "quarn-run", "build.ninja"});
  const std::string deps = output_of({"ninja", "-C", folder, "-t", "deps"});
  quarn_run::write_inputs(folder + "/" + quarn_run::kInputsList,
                          quarn_run::inputs_named(inputs, deps, folder));
}

// quarn's run, until it ends or the deadline.
Ending run_quarn(Child& quarn) {
  const Clock::time_point deadline =
      Clock::now() + std::chrono::seconds(quarn_run::kDeadlineSeconds);
  while (!quarn.done() && step({&quarn}, deadline)) {
  }
  return end(quarn);
}

// A reader of standard output that has gone ends quarn by SIGPIPE, as it
// would have ended quarn alone.
[[noreturn]] void end_as_by_sigpipe() {
  signal(SIGPIPE, SIG_DFL);
  raise(SIGPIPE);
  _exit(128 + SIGPIPE);
}

// quarn's report, or its own failure, as quarn alone would have given it.
int pass_on(const std::string& out, const Ending& ending) {
  std::fwrite(ending.err.data(), 1, ending.err.size(), stderr);
  std::fwrite(out.data(), 1, out.size(), stdout);
  if (std::fflush(stdout) != 0 && errno == EPIPE) end_as_by_sigpipe();
  const int written = quarn_program::finish_standard_output("quarn");
  if (written != 0) return written;
  return ending.how == Ending::How::Signalled ? 128 + ending.code : ending.code;
}

[[noreturn]] void report_through_egl(const std::string& folder,
                                     const std::string& why,
                                     bool toolkitOptions) {
  std::fputs(quarn_run::fallback_note(why, toolkitOptions).c_str(), stderr);
  const std::string quarnEgl = folder + "/quarn-egl";
  signal(SIGPIPE, SIG_DFL);
  execl(quarnEgl.c_str(), quarnEgl.c_str(), "--say-device",
        static_cast<char*>(nullptr));
  std::fprintf(stderr, "quarn: cannot run %s: %s\n", quarnEgl.c_str(),
               std::strerror(errno));
  std::exit(127);
}

// The folder that holds this program: the one it was started by, which a
// link to it names, else the file the kernel started.
std::string own_folder(const char* argv0) {
  std::string path = argv0 != nullptr ? argv0 : "";
  if (path.find('/') == std::string::npos) {
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    path.assign(self, length > 0 ? static_cast<std::size_t>(length) : 0);
  }
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

}  // namespace

int main(int argc, char** argv) {
  if (!quarn_program::keep_standard_descriptors_taken("quarn")) return 1;
  // A note that cannot be written, to a reader that has gone, costs nothing;
  // standard output's own reader is answered as quarn would answer it.
  signal(SIGPIPE, SIG_IGN);
  struct sigaction onEnd {};
  onEnd.sa_handler = on_child_end;
  if (pipe2(childEnded, O_CLOEXEC | O_NONBLOCK) != 0 ||
      sigaction(SIGCHLD, &onEnd, nullptr) != 0) {
    std::perror("quarn: cannot wait for a child");
    return 1;
  }
  char* noArguments[] = {nullptr, nullptr};
  if (argc < 1) argv = noArguments, argc = 1;
  const std::string folder = own_folder(argv[0]);
  const std::vector<std::string_view> arguments(argv + 1, argv + argc);
  // scripts/run's build: one that is not current is brought up to date
  // first; one made just now is recorded as it now is.
  const std::string_view build = std::getenv(kBuild) ? std::getenv(kBuild) : "";
  if (build == "made") record_inputs(folder);
  if (build == "check" &&
      !quarn_run::inputs_unchanged(folder + "/" + quarn_run::kInputsList)) {
    rebuild(folder, argv);
  }
  unsetenv(kBuild);
  const char* display = std::getenv("DISPLAY");
  std::string why = quarn_run::why_no_display(arguments, display);
  if (why.empty()) {
    std::string quarnPath = folder + "/quarn";
    argv[0] = quarnPath.data();
    Child quarn = start(argv);
    const Ending ending = run_quarn(quarn);
    const quarn_run::Verdict verdict =
        quarn_run::judge(ending, quarn_run::display_label(arguments, display));
    if (verdict.reportStands) return pass_on(quarn.text[0], ending);
    why = verdict.why;
  }
  report_through_egl(folder, why, !arguments.empty());
}
