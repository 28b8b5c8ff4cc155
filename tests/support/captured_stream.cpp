#include "captured_stream.h"

#include <unistd.h>

#include <stdexcept>

CapturedStream::CapturedStream(std::FILE* stream, int fd)
    : stream_(stream), fd_(fd), savedFd_(-1), file_(std::tmpfile()) {
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
  std::string bytes;
  char block[4096];
  for (off_t at = 0;;) {
    const ssize_t got = pread(fileno(file_), block, sizeof block, at);
    if (got <= 0) return bytes;
    bytes.append(block, static_cast<std::size_t>(got));
    at += got;
  }
}
