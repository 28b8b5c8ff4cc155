// Times the run command, scripts/run, in pairs of runs, each pair one run of
// it and one of what it stands beside, so that a drift in the machine's
// speed falls on both alike. It prints the medians of each, and of the
// pairs: with no display, its ratio to `xvfb-run -a quarn`, and on a live
// display (the tests' server, up with -noreset as a desktop's is), the ms
// it adds to quarn's own run.
//   run_command_bench PAIRS XVFB_DIR RUN QUARN
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Command = std::vector<std::string>;

// Seconds one run of the command takes, its output thrown away; exits
// where it fails, since a failing run times nothing worth showing. What the
// command left to end behind it (xvfb-run's server, which it kills but does
// not wait for) is waited for before the next run starts, but not timed.
double seconds_of(const Command& command) {
  const auto started = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    std::vector<char*> argv;
    for (const std::string& word : command) {
      argv.push_back(const_cast<char*>(word.c_str()));
    }
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started)
          .count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "run_command_bench: %s failed\n", command[0].c_str());
    std::exit(1);
  }
  while (waitpid(-1, nullptr, 0) > 0) {
  }
  return seconds;
}

double median(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  const std::size_t half = times.size() / 2;
  return times.size() % 2 != 0 ? times[half]
                               : (times[half - 1] + times[half]) / 2;
}

// a's and b's times, run in turn, over the pairs, after one run of each
// that is not counted (the first builds what is due, and fills the caches).
struct Pairs {
  std::vector<double> a, b;
  // The medians of a's times, of b's, and of what each pair's a and b give.
  double median_a() const { return median(a); }
  double median_b() const { return median(b); }
  template <typename Compare>
  double median_of_pairs(Compare compare) const {
    std::vector<double> each;
    for (std::size_t i = 0; i < a.size(); ++i) {
      each.push_back(compare(a[i], b[i]));
    }
    return median(each);
  }
};

Pairs pairs_of(int pairs, const Command& a, const Command& b) {
  seconds_of(a);
  seconds_of(b);
  Pairs times;
  for (int pair = 0; pair < pairs; ++pair) {
    times.a.push_back(seconds_of(a));
    times.b.push_back(seconds_of(b));
  }
  return times;
}

}  // namespace

int main(int argc, char** argv) {
  const int pairs = argc == 5 ? std::atoi(argv[1]) : 0;
  if (pairs < 1) {
    std::fputs("usage: run_command_bench PAIRS XVFB_DIR RUN QUARN\n", stderr);
    return 2;
  }
  const std::string folder = argv[2], run = argv[3], quarn = argv[4];
  // What the commands leave running comes to this process to be waited for.
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  unsetenv("DISPLAY");
  const Pairs alone = pairs_of(pairs, {run}, {"xvfb-run", "-a", quarn});
  std::printf(
      "no display: scripts/run %.1f ms, xvfb-run -a quarn %.1f ms; the "
      "median pair's ratio %.2f\n",
      1000 * alone.median_a(), 1000 * alone.median_b(),
      alone.median_of_pairs([](double a, double b) { return a / b; }));
  std::string display;
  std::getline(std::ifstream(folder + "/display"), display);
  setenv("DISPLAY", display.c_str(), 1);
  setenv("XAUTHORITY", (folder + "/auth").c_str(), 1);
  const Pairs live = pairs_of(pairs, {run}, {quarn});
  std::printf(
      "live display: scripts/run %.1f ms, quarn %.1f ms; the median pair's "
      "difference %.1f ms\n",
      1000 * live.median_a(), 1000 * live.median_b(),
      1000 * live.median_of_pairs([](double a, double b) { return a - b; }));
  return 0;
}
