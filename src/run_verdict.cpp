#include "run_verdict.h"

#include <algorithm>
#include <initializer_list>
#include <string>

#include "program.h"

namespace quarn_run {

namespace {

// freeglut names itself at the start of each message it writes.
constexpr std::string_view kToolkit = "freeglut (";

bool names_a_display(const std::vector<std::string_view>& arguments) {
  for (const std::string_view argument : arguments) {
    if (argument == "-display") return true;
  }
  return false;
}

// The lines of text, each without its line break, blank ones left out.
std::vector<std::string_view> lines_of(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    if (line.find_first_not_of(" \t\r") != std::string_view::npos) {
      lines.push_back(line);
    }
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

// What the X server said when it turned quarn away: Xlib writes the
// server's reason before the toolkit's own line.
std::string server_reason(const std::vector<std::string_view>& before) {
  std::string reason;
  for (const std::string_view line : before) {
    if (!reason.empty()) reason += ' ';
    reason += line;
  }
  return reason;
}

std::string joined(std::initializer_list<std::string_view> pieces) {
  std::string text;
  for (const std::string_view piece : pieces) text += piece;
  return text;
}

// The name after the first -display that has one, or null.
const std::string_view* display_argument(
    const std::vector<std::string_view>& arguments) {
  for (std::size_t i = 0; i + 1 < arguments.size(); ++i) {
    if (arguments[i] == "-display") return &arguments[i + 1];
  }
  return nullptr;
}

}  // namespace

std::string display_name(const std::vector<std::string_view>& arguments,
                         const char* displayVariable) {
  if (const std::string_view* named = display_argument(arguments)) {
    return std::string(*named);
  }
  return displayVariable != nullptr ? displayVariable : "";
}

std::string display_label(const std::vector<std::string_view>& arguments,
                          const char* displayVariable) {
  return (display_argument(arguments) != nullptr ? "-display " : "DISPLAY=") +
         display_name(arguments, displayVariable);
}

std::string why_no_display(const std::vector<std::string_view>& arguments,
                           const char* displayVariable) {
  if (names_a_display(arguments)) return "";
  if (displayVariable == nullptr) return "DISPLAY is not set";
  if (*displayVariable == '\0') return "DISPLAY is empty";
  return "";
}

Verdict judge(const Ending& ending, std::string_view display) {
  if (ending.how == Ending::How::TimedOut) {
    return {false, joined({"the display at ", display,
                           " gave no OpenGL context within ",
                           std::to_string(kDeadlineSeconds), " s"})};
  }
  if (ending.how != Ending::How::Exited || ending.code == 0) return {};
  // Only the toolkit's own failures call for EGL; any other failure of
  // quarn's is passed on as it is.
  const std::vector<std::string_view> lines = lines_of(ending.err);
  const auto toolkit = std::find_if(
      lines.begin(), lines.end(),
      [](std::string_view line) { return line.starts_with(kToolkit); });
  if (toolkit == lines.end()) return {};
  if (toolkit->find("failed to open display") == std::string_view::npos) {
    return {false, joined({"the display at ", display,
                           " gives no OpenGL context (", *toolkit, ")"})};
  }
  const std::string reason = server_reason({lines.begin(), toolkit});
  if (!reason.empty()) {
    return {false, joined({"the X server at ", display,
                           " turns this user away (", reason, ")"})};
  }
  return {false, joined({"no X server answers at ", display,
                         ", or it has no such screen (", *toolkit, ")"})};
}

bool names_a_host(std::string_view display) {
  const std::size_t colon = display.rfind(':');
  if (colon == std::string_view::npos || colon == 0) return false;
  const std::string_view host = display.substr(0, colon);
  return host != "unix" && !host.starts_with("/");
}

std::string software_note(const Served& served) {
  if (!quarn_program::is_software_renderer(served.renderer) ||
      !served.gpuHere) {
    return "";
  }
  std::vector<std::string> causes;
  if (served.sshForwarded) {
    causes.emplace_back("the display is forwarded over ssh");
  }
  if (served.noDri3) {
    causes.emplace_back(
        "the X server offers no direct rendering (no DRI3, as on Xvfb, "
        "Xvnc and xrdp)");
  }
  for (const std::string& variable : served.variables) {
    causes.push_back(variable + " forces software");
  }
  std::string note =
      "quarn: the renderer is software though this machine has a GPU";
  for (std::size_t i = 0; i < causes.size(); ++i) {
    note += (i == 0 ? ", likely because " : ", and ") + causes[i];
  }
  return note + "; `quarn-egl` reports this machine's GPU\n";
}

std::string fallback_note(std::string_view why, bool toolkitOptions) {
  std::string note = "quarn: " + std::string(why) +
                     "; reporting through EGL, without a window";
  if (toolkitOptions) note += " (the toolkit options go unused)";
  return note + "\n";
}

}  // namespace quarn_run
