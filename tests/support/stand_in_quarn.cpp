// Stands in for quarn, quarn-egl and ninja beside quarn-run in the
// launcher's tests. As quarn it does what QUARN_STAND_IN says: reports (with
// its arguments as the renderer), cannot_open, refused, no_context (each
// after the banner, with the toolkit's words), hangs or crashes; it writes
// its pid to QUARN_STAND_IN_PID where that is set. As quarn-egl it reports
// with its arguments as the renderer. As ninja, its -t inputs and -t deps
// name a source, a target that is no file and a header, from build/release.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "banner.h"

namespace {

void report(const char* vendor, int argc, char** argv) {
  std::string arguments;
  for (int i = 1; i < argc; ++i) arguments += std::string(" ") + argv[i];
  std::printf(
      "OpenGL Vendor: %s\nOpenGL Renderer:%s\nOpenGL Version: 1.0\n"
      "OpenGL Extensions: GL_A \n",
      vendor, arguments.c_str());
}

void write_pid() {
  const char* file = std::getenv("QUARN_STAND_IN_PID");
  std::FILE* out = file != nullptr ? std::fopen(file, "w") : nullptr;
  if (out == nullptr) return;
  std::fprintf(out, "%d\n", static_cast<int>(getpid()));
  std::fclose(out);
}

}  // namespace

int main(int argc, char** argv) {
  const char* slash = std::strrchr(argv[0], '/');
  const std::string name = slash != nullptr ? slash + 1 : argv[0];
  if (name == "ninja") {
    const bool deps = std::strcmp(argv[argc - 1], "deps") == 0;
    std::fputs(
        deps ? "a.o: #deps 1, deps mtime 1 (VALID)\n    ../../header.h\n\n"
             : "../../source.cpp\nphony_target\n",
        stdout);
    return 0;
  }
  if (name == "quarn-egl") {
    std::fputs(kBannerLine.c_str(), stdout);
    report("EGL", argc, argv);
    return 0;
  }
  write_pid();
  const std::string how = std::getenv("QUARN_STAND_IN");
  std::fputs(kBannerLine.c_str(), stdout);
  if (how == "reports") {
    report("stand-in", argc, argv);
    std::fputs("a warning of the driver's\n", stderr);
    return 0;
  }
  std::fflush(stdout);
  if (how == "hangs") {
    for (;;) pause();
  }
  if (how == "crashes") std::abort();
  if (how == "refused") {
    std::fputs(
        "Authorization required, but no authorization protocol specified\n\n",
        stderr);
  }
  if (how == "no_context") {
    std::fprintf(stderr,
                 "freeglut (%s): OpenGL GLX extension not supported by "
                 "display ':10'\n",
                 argv[0]);
  } else {
    std::fprintf(stderr, "freeglut (%s): failed to open display ':9'\n",
                 argv[0]);
  }
  return 1;
}
