// The run command's judgement, apart from the processes it runs: whether
// quarn may be tried on the display at all, and once it has ended, whether
// its report stands or quarn-egl's takes its place, and why.
#ifndef QUARN_RUN_VERDICT_H
#define QUARN_RUN_VERDICT_H

#include <string>
#include <string_view>
#include <vector>

namespace quarn_run {

// How quarn's run ended, and what it wrote on standard error.
struct Ending {
  enum class How { Exited, Signalled, TimedOut } how = How::Exited;
  int code = 0;  // the exit status, or the signal
  std::string err;
};

// What the run command does once quarn has ended.
struct Verdict {
  bool reportStands = true;  // false: quarn-egl reports instead
  std::string why;           // why the display did not serve
};

// The display that quarn's toolkit would open: -display's name where the
// command line gives one, else DISPLAY's.
std::string display_name(const std::vector<std::string_view>& arguments,
                         const char* displayVariable);

// The same as the note names it: "-display NAME" or "DISPLAY=NAME".
std::string display_label(const std::vector<std::string_view>& arguments,
                          const char* displayVariable);

// Why no display is named at all, so that quarn is not worth starting; ""
// where one is.
std::string why_no_display(const std::vector<std::string_view>& arguments,
                           const char* displayVariable);

// Whether quarn's report stands, from how it ended.
Verdict judge(const Ending& ending, std::string_view display);

// What the run command knows where quarn's report stands.
struct Served {
  std::string renderer;       // the report's renderer string
  bool gpuHere = false;       // a render node or an NVIDIA device file
  bool sshForwarded = false;  // SSH_CONNECTION, and DISPLAY names a host
  bool noDri3 = false;        // the X server offers no DRI3
  std::vector<std::string> variables;  // NAME=VALUE that force software
};

// Whether DISPLAY (or -display's name) names a host, as an ssh-forwarded
// display does (localhost:10.0), rather than a local server (:0).
bool names_a_host(std::string_view display);

// The line said after a report from software on a machine with a GPU: the
// likely causes, then where the GPU's report is; "" otherwise.
std::string software_note(const Served& served);

// The line said before quarn-egl reports.
std::string fallback_note(std::string_view why, bool toolkitOptions);

// How long quarn may take to report on a display, in seconds.
constexpr int kDeadlineSeconds = 10;

}  // namespace quarn_run

#endif  // QUARN_RUN_VERDICT_H
