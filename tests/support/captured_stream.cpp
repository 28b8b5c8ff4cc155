#include "captured_stream.h"

#include <unistd.h>
#ifdef _WIN32
#include <share.h>
#endif

#include <stdexcept>
#include <string>

namespace {

// The Windows C runtime makes its temporary files in the drive's root,
// which under Wine is the machine's own /: there the file lies in the
// working folder (CTest's, in the build folder), and goes when closed.
std::FILE* temporary_file() {
#ifdef _WIN32
  static int made = 0;
  const std::string name = "captured-" + std::to_string(getpid()) + "-" +
                           std::to_string(++made) + ".tmp";
  return _fsopen(name.c_str(), "w+bD", _SH_DENYNO);
#else
  return std::tmpfile();
#endif
}

}  // namespace

CapturedStream::CapturedStream(std::FILE* stream, int fd)
    : stream_(stream), fd_(fd), savedFd_(-1), file_(temporary_file()) {
  std::fflush(stream_);
  savedFd_ = dup(fd_);
  if (file_ == nullptr || savedFd_ == -1 || dup2(fileno(file_), fd_) == -1) {
    throw std::runtime_error("cannot capture a standard stream");
  }
}

CapturedStream::~CapturedStream() {
  std::fflush(stream_);
  dup2(savedFd_, fd_);
  close(savedFd_);
  std::fclose(file_);
}

std::string CapturedStream::text() const {
  std::fflush(stream_);
  // Read from the start, then put the offset back for the writes to come.
  const int fd = fileno(file_);
  const off_t end = lseek(fd, 0, SEEK_CUR);
  std::string bytes;
  char block[4096];
  lseek(fd, 0, SEEK_SET);
  for (long got; (got = read(fd, block, sizeof block)) > 0;) {
    bytes.append(block, static_cast<std::size_t>(got));
  }
  lseek(fd, end, SEEK_SET);
  return bytes;
}
