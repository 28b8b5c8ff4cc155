// Times the run command, scripts/run, in pairs of runs, each pair one run of
// it and one of what it stands beside, so that a drift in the machine's
// speed falls on both alike. From the medians it prints, with no display,
// its ratio to `xvfb-run -a quarn`, and on a live display (the tests'
// server, up with -noreset as a desktop's is), the ms it adds to quarn's
// own run.
//   run_command_bench PAIRS XVFB_DIR RUN QUARN
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using Command = std::vector<std::string>;

// Seconds one run of the command takes, its output thrown away; exits
// where it fails, since a failing run times nothing worth showing.
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
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "run_command_bench: %s failed\n", command[0].c_str());
    std::exit(1);
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() -
                                       started)
      .count();
}

double median(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  const std::size_t half = times.size() / 2;
  return times.size() % 2 != 0 ? times[half]
                               : (times[half - 1] + times[half]) / 2;
}

// The medians of a's and b's times over the pairs, after one run of each
// that is not counted (the first builds what is due, and fills the caches).
std::pair<double, double> medians(int pairs, const Command& a,
                                  const Command& b) {
  seconds_of(a);
  seconds_of(b);
  std::vector<double> aTimes, bTimes;
  for (int pair = 0; pair < pairs; ++pair) {
    aTimes.push_back(seconds_of(a));
    bTimes.push_back(seconds_of(b));
  }
  return {median(aTimes), median(bTimes)};
}

}  // namespace

int main(int argc, char** argv) {
  const int pairs = argc == 5 ? std::atoi(argv[1]) : 0;
  if (pairs < 1) {
    std::fputs("usage: run_command_bench PAIRS XVFB_DIR RUN QUARN\n", stderr);
    return 2;
  }
  const std::string folder = argv[2], run = argv[3], quarn = argv[4];
  unsetenv("DISPLAY");
  const auto [alone, xvfbRun] =
      medians(pairs, {run}, {"xvfb-run", "-a", quarn});
  std::printf("no display: scripts/run / xvfb-run -a: %.2f\n", alone / xvfbRun);
  std::string display;
  std::getline(std::ifstream(folder + "/display"), display);
  setenv("DISPLAY", display.c_str(), 1);
  setenv("XAUTHORITY", (folder + "/auth").c_str(), 1);
  const auto [live, quarnAlone] = medians(pairs, {run}, {quarn});
  std::printf("live display: scripts/run adds %.1f ms to quarn's own run\n",
              1000 * (live - quarnAlone));
  return 0;
}
