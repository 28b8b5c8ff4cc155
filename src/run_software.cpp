#include "run_software.h"

#include <dlfcn.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "program.h"
#include "run_verdict.h"

namespace quarn_run {

namespace {

// Whether this machine has a GPU's device file: a render node, or one of
// NVIDIA's.
bool gpu_here() {
  return !quarn_program::numbered_files("/dev/dri", "renderD").empty() ||
         !quarn_program::numbered_files("/dev", "nvidia").empty();
}

// Whether the X server at the display offers no DRI3, asked through libxcb
// where it loads; false where that cannot be told. Only a report from
// software on a machine with a GPU asks, after quarn has ended.
bool lacks_dri3(const std::string& display) {
  struct Reply {
    unsigned char type, pad;
    unsigned short sequence;
    unsigned length;
    unsigned char present, opcode, firstEvent, firstError;
  };
  void* xcb = dlopen("libxcb.so.1", RTLD_LAZY | RTLD_LOCAL);
  if (xcb == nullptr) return false;
  const auto connect =
      reinterpret_cast<void* (*)(const char*, int*)>(dlsym(xcb, "xcb_connect"));
  const auto failed =
      reinterpret_cast<int (*)(void*)>(dlsym(xcb, "xcb_connection_has_error"));
  const auto query =
      reinterpret_cast<unsigned (*)(void*, uint16_t, const char*)>(
          dlsym(xcb, "xcb_query_extension"));
  const auto reply = reinterpret_cast<Reply* (*)(void*, unsigned, void**)>(
      dlsym(xcb, "xcb_query_extension_reply"));
  const auto disconnect =
      reinterpret_cast<void (*)(void*)>(dlsym(xcb, "xcb_disconnect"));
  bool lacks = false;
  if (connect && failed && query && reply && disconnect) {
    void* connection = connect(display.c_str(), nullptr);
    if (connection != nullptr && failed(connection) == 0) {
      Reply* answer = reply(connection, query(connection, 4, "DRI3"), nullptr);
      lacks = answer != nullptr && answer->present == 0;
      std::free(answer);
    }
    if (connection != nullptr) disconnect(connection);
  }
  dlclose(xcb);
  return lacks;
}

}  // namespace

// After a report from software on a machine with a GPU: why, likely.
void say_why_software(const std::string& report,
                      const std::vector<std::string_view>& arguments) {
  const std::size_t at = report.find("\nOpenGL Renderer: ");
  Served served;
  if (at != std::string::npos) {
    const std::size_t from = at + std::strlen("\nOpenGL Renderer: ");
    served.renderer = report.substr(from, report.find('\n', from) - from);
  }
  if (!quarn_program::is_software_renderer(served.renderer) || !gpu_here()) {
    return;
  }
  served.gpuHere = true;
  const std::string display = display_name(arguments, std::getenv("DISPLAY"));
  served.sshForwarded =
      std::getenv("SSH_CONNECTION") != nullptr && names_a_host(display);
  served.noDri3 = lacks_dri3(display);
  served.variables = quarn_program::software_variables_set();
  quarn_program::write_note(software_note(served));
}

}  // namespace quarn_run
