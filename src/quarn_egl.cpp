// quarn-egl: quarn's report without a window system. It prints the same
// banner and the same four lines as quarn, from a desktop OpenGL context
// that EGL makes current with no surface: on a GPU through the device
// platform, or on Mesa's surfaceless platform where there is none. Each
// device is tried in turn, the GPUs first; one that fails is named, with
// the step, EGL's error and the likely cause, and the next is tried. Its
// parts: the devices (egl_devices), the contexts (egl_context) and the
// diagnosis (egl_diagnosis); here, the command line and the loop.
//   quarn-egl [--device=NAME | --gpu] [--say-device] [--no-banner]
//           | --list-devices | --version | --help
#include <GL/gl.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "egl_context.h"
#include "egl_devices.h"
#include "egl_diagnosis.h"
#include "egl_software.h"
#include "program.h"
#include "quarn.h"

namespace {

using namespace quarn_egl;

const char* const kUsage =
    "usage: quarn-egl [--device=NAME | --gpu] [--say-device] [--no-banner]\n"
    "                                   report the OpenGL implementation\n"
    "       quarn-egl --list-devices    the devices, in the order tried\n"
    "       quarn-egl --version | --help\n";

// Every line quarn-egl writes on standard error, after what it has written
// on standard output, so that the two keep their order on a terminal.
void say(const std::string& line) {
  std::fflush(stdout);
  quarn_program::write_note("quarn-egl: " + line + "\n");
}

std::vector<Display> displays() {
  const char* client = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
  long long counted = 0;
  const std::vector<DeviceFacts> devices =
      has_word(client, "EGL_EXT_platform_device") ? egl_devices(counted)
                                                  : std::vector<DeviceFacts>{};
  if (counted > static_cast<long long>(kMaxDevices)) {
    say("EGL counts " + std::to_string(counted) + " devices; the first " +
        std::to_string(kMaxDevices) + " are tried");
  }
  return ranked_displays(devices,
                         has_word(client, "EGL_MESA_platform_surfaceless"));
}

int list_devices() {
  for (const Display& display : displays()) {
    std::printf("%s\t%s\n", display.name.c_str(), display.description.c_str());
  }
  return quarn_program::finish_standard_output("quarn-egl");
}

struct Options {
  std::string device;  // only this one, if given
  bool gpuOnly = false;
  bool sayDevice = false;
  bool banner = true;
};

// Says so where an NVIDIA GPU went unseen; whether it did.
bool say_if_an_nvidia_gpu_went_unseen(const Display* served,
                                      const std::vector<Display>& all) {
  const std::string note = unseen_nvidia_note(served, all, nvidia_facts());
  if (!note.empty()) say(note);
  return !note.empty();
}

// Whether the current context's renderer is one of Mesa's in software.
bool renderer_is_software() {
  const auto* renderer =
      reinterpret_cast<const char*>(glGetString(GL_RENDERER));
  return renderer != nullptr && quarn_program::is_software_renderer(renderer);
}

// After a report from software that no line has explained yet, and that
// --device did not ask for: why, where something says.
void say_why_software(const Display& served, const std::vector<Display>& all) {
  const bool software =
      served.kind == Kind::Software ||
      (served.kind == Kind::Surfaceless && renderer_is_software());
  if (!software) return;
  const std::string note =
      software_note(software_variables(), unlisted_render_nodes(all));
  if (!note.empty()) say(note);
}

// The displays to try: all of them, that one, or the GPUs alone.
std::vector<const Display*> to_try(const Options& options,
                                   const std::vector<Display>& all) {
  std::vector<const Display*> tried;
  if (!options.device.empty()) {
    const Display* named = display_named(all, options.device);
    if (named == nullptr) {
      say("no device " + options.device +
          " (quarn-egl --list-devices names them)");
    } else {
      tried.push_back(named);
    }
    return tried;
  }
  for (const Display& display : all) {
    if (!options.gpuOnly || display.kind == Kind::Gpu)
      tried.push_back(&display);
  }
  if (tried.empty()) {
    say("EGL lists no GPU (quarn-egl --list-devices names what it lists)");
  }
  return tried;
}

// The report from the first display that serves; 1 where none does.
int report(const Options& options) {
  if (options.banner) std::printf("%s\n", quarn_program::kVersionBanner);
  const std::vector<Display> all = displays();
  bool explained = false;  // a line has said why a GPU did not serve
  for (const Display* display : to_try(options, all)) {
    const Current current = make_context_current(*display);
    if (current.failure) {
      say(failure_line(current.failure, *display));
      explained = explained || display->kind == Kind::Gpu;
      continue;
    }
    if (!current.note.empty()) say(current.note);
    display_gl_env();
    const int status = quarn_program::finish_standard_output("quarn-egl");
    // A report that went nowhere was served by nothing the reader can see.
    if (options.sayDevice && status == 0) {
      say("served by " + display->name + " (" + display->brief + ")");
    }
    explained = say_if_an_nvidia_gpu_went_unseen(display, all) || explained;
    if (!explained && options.device.empty()) say_why_software(*display, all);
    return status;
  }
  if (!options.gpuOnly) say_if_an_nvidia_gpu_went_unseen(nullptr, all);
  return 1;
}

int usage_error(const std::string& why) {
  quarn_program::write_note("quarn-egl: " + why + "\n" + kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (!quarn_program::keep_standard_descriptors_taken("quarn-egl")) return 1;
  Options options;
  bool listing = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--help") {
      std::fputs(kUsage, stdout);
      return quarn_program::finish_standard_output("quarn-egl");
    }
    if (argument == "--version") {
      std::printf("%s\n", quarn_program::kVersionBanner);
      return quarn_program::finish_standard_output("quarn-egl");
    }
    if (argument == "--list-devices") {
      listing = true;
    } else if (argument == "--say-device") {
      options.sayDevice = true;
    } else if (argument == "--gpu") {
      options.gpuOnly = true;
    } else if (argument == "--no-banner") {
      options.banner = false;
    } else if (argument == "--device" || argument.starts_with("--device=")) {
      // The name follows, as the next argument or after the '='. An empty
      // one would try them all, which --device never does.
      if (argument == "--device") {
        options.device = i + 1 < argc ? argv[++i] : "";
      } else {
        options.device = argument.substr(9);
      }
      if (options.device.empty()) {
        return usage_error("option '--device' needs a name");
      }
    } else {
      return usage_error("unknown argument '" + std::string(argument) + "'");
    }
  }
  if (options.gpuOnly && !options.device.empty()) {
    return usage_error("options '--gpu' and '--device' exclude each other");
  }
  return listing ? list_devices() : report(options);
}
