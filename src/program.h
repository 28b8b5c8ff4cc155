// What the programs, quarn, quarn-egl and quarn-run, share beyond the
// library: the version banner, the guard on closed standard descriptors,
// what names software and GPUs, the check that the report reached standard
// output, and notes on standard error that cost nothing where they cannot
// be written.
#ifndef QUARN_PROGRAM_H
#define QUARN_PROGRAM_H

#ifndef _WIN32
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace quarn_program {

inline const char* const kVersionBanner =
    "$RCSfile: quarn,v $ $Revision: 1.6 $ $Date: 2006/12/01 04:53:57 $ ";

// A descriptor among 0, 1 and 2 that the parent left closed would be handed
// to the next file the program opens: the X server's socket, or a GPU's
// device node, and the report would then be written there, where nothing
// reads it. Parking /dev/null there keeps them off; standard output gets it
// read-only, so that writing the report still fails as it would on the
// closed descriptor and is reported as a failure. Where there is no
// /dev/null (a minimal container), the root folder opened read-only serves
// as well: reads and writes on it fail. False, after saying why, when a
// descriptor stays closed all the same.
inline bool keep_standard_descriptors_taken(const char* program) {
#ifdef _WIN32
  // Windows' window system and GL never open C runtime descriptors, so
  // none of theirs can take a closed standard one's place.
  static_cast<void>(program);
  return true;
#else
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int flags = fd == STDERR_FILENO ? O_WRONLY : O_RDONLY;
    int opened = open("/dev/null", flags);
    if (opened == -1) opened = open("/", O_RDONLY | O_DIRECTORY);
    if (opened != fd) {
      const int reason = errno;
      if (opened != -1) close(opened);
      std::fprintf(stderr, "%s: cannot hold a closed standard descriptor: %s\n",
                   program, std::strerror(reason));
      return false;
    }
  }
  return true;
#endif
}

// Whether a GL_RENDERER string names one of Mesa's renderers in software.
inline bool is_software_renderer(std::string_view renderer) {
  for (const std::string_view software : {"llvmpipe", "softpipe", "swrast"}) {
    if (renderer.find(software) != std::string_view::npos) return true;
  }
  return false;
}

// The variables that force Mesa, or steer it, to software, then those of
// `more`: each that is set, and not empty, as NAME=VALUE.
inline std::vector<std::string> software_variables_set(
    std::initializer_list<const char*> more = {}) {
  std::vector<std::string> set;
  const auto add = [&set](const char* name) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') {
      set.push_back(std::string(name) + "=" + value);
    }
  };
  for (const char* name : {"LIBGL_ALWAYS_SOFTWARE", "GALLIUM_DRIVER",
                           "MESA_LOADER_DRIVER_OVERRIDE"}) {
    add(name);
  }
  for (const char* name : more) add(name);
  return set;
}

#ifndef _WIN32
// The names of the files in the folder that are the prefix and a number
// (renderD128, nvidia0), sorted: a GPU's device files, where the prefix's
// others (nvidiactl, nvidia-uvm) are none of one GPU's.
inline std::vector<std::string> numbered_files(const std::string& folder,
                                               std::string_view prefix) {
  std::vector<std::string> names;
  DIR* files = opendir(folder.c_str());
  if (files == nullptr) return names;
  for (const dirent* entry; (entry = readdir(files)) != nullptr;) {
    const std::string_view name = entry->d_name;
    if (name.size() > prefix.size() && name.starts_with(prefix) &&
        std::isdigit(static_cast<unsigned char>(name[prefix.size()]))) {
      names.emplace_back(name);
    }
  }
  closedir(files);
  std::sort(names.begin(), names.end());
  return names;
}
#endif

// Writes the text on standard error, as coreutils treats it: where it cannot
// be written, to a full disk or to a pipe whose reader has gone, the note is
// lost and nothing else. The SIGPIPE that such a pipe raises is held while
// writing, and taken back unless one was already pending; errno is kept.
inline void write_note(const std::string& text) {
  const int saved = errno;
#ifdef _WIN32
  std::fputs(text.c_str(), stderr);
#else
  sigset_t brokenPipe, before, pending;
  sigemptyset(&brokenPipe);
  sigaddset(&brokenPipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &brokenPipe, &before);
  sigpending(&pending);
  const bool alreadyPending = sigismember(&pending, SIGPIPE) == 1;
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
  if (!alreadyPending) {
    const timespec now{};
    while (sigtimedwait(&brokenPipe, nullptr, &now) == SIGPIPE) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
#endif
  errno = saved;
}

// Standard output is buffered, so a failed write may only show here. A
// report that never reached its reader must not end with status 0.
inline int finish_standard_output(const char* program) {
  // A write that failed inside the report left its reason in errno; the
  // buffered writes after it leave errno alone, and the flush below may
  // have nothing left to write and so give no reason of its own.
  const int reasonSoFar = errno;
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0;
  if (flushed && !std::ferror(stdout)) return 0;
  int reason = !flushed && errno != 0 ? errno : reasonSoFar;
  if (reason == 0) reason = EIO;
  write_note(std::string(program) + ": write error: " + std::strerror(reason) +
             "\n");
  return 1;
}

}  // namespace quarn_program

#endif  // QUARN_PROGRAM_H
