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
#include <signal.h>
#include <unistd.h>

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
#include "run_child.h"
#include "run_software.h"
#include "run_verdict.h"

namespace {

using quarn_run::Child;
using quarn_run::Clock;
using quarn_run::Ending;
using quarn_run::output_of;
using quarn_run::start;
using quarn_run::wait_for;

// What scripts/run knows of the build it starts this from: "check" it,
// "made" just now, or, handed back by this, "stale". Unset, this is no run
// of scripts/run's, and the build is none of its business.
const char* const kBuild = "QUARN_RUN_BUILD";

// Runs the program in this process's place, with SIGPIPE as a shell leaves
// it; where it cannot be run, says why.
[[noreturn]] void become(const std::string& program, char** argv) {
  signal(SIGPIPE, SIG_DFL);
  argv[0] = const_cast<char*>(program.c_str());
  execv(program.c_str(), argv);
  std::fprintf(stderr, "quarn: cannot run %s: %s\n", program.c_str(),
               std::strerror(errno));
  std::exit(127);
}

// Hands the run back to scripts/run, which builds, then starts this again.
[[noreturn]] void rebuild(const std::string& folder, char** argv) {
  setenv(kBuild, "stale", 1);
  become(folder + "/../../scripts/run", argv);
}

// Lists what the programs were built from, as Ninja's records name it,
// right after scripts/run has built them.
void record_inputs(const std::string& folder) {
  const std::string inputs =
      output_of({"ninja", "-C", folder, "-t", "inputs", "quarn", "quarn-egl",
                 "quarn-run", "build.ninja"});
  const std::string deps = output_of({"ninja", "-C", folder, "-t", "deps"});
  // Where the checkout's own path cannot be told, each file is listed.
  char* checkout = realpath((folder + "/../..").c_str(), nullptr);
  quarn_run::write_inputs(
      folder + "/" + quarn_run::kInputsList,
      quarn_run::inputs_named(inputs, deps, folder, checkout ? checkout : ""));
  std::free(checkout);
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
  char sayDevice[] = "--say-device";
  char* argv[] = {nullptr, sayDevice, nullptr};
  become(folder + "/quarn-egl", argv);
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
  if (!quarn_run::prepare_for_children()) {
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
    const Ending ending =
        wait_for(quarn, Clock::now() +
                            std::chrono::seconds(quarn_run::kDeadlineSeconds));
    const quarn_run::Verdict verdict =
        quarn_run::judge(ending, quarn_run::display_label(arguments, display));
    if (verdict.reportStands) {
      const int status = pass_on(quarn.text[0], ending);
      if (status == 0) quarn_run::say_why_software(quarn.text[0], arguments);
      return status;
    }
    why = verdict.why;
  }
  report_through_egl(folder, why, !arguments.empty());
}
