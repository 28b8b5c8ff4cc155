// Points one of the standard streams at a temporary file for the life of
// the object, so a test can read exactly the bytes the code under test wrote.
#ifndef QUARN_CAPTURED_STREAM_H
#define QUARN_CAPTURED_STREAM_H

#include <cstdio>
#include <string>

class CapturedStream {
 public:
  CapturedStream(std::FILE* stream, int fd);
  ~CapturedStream();
  CapturedStream(const CapturedStream&) = delete;
  CapturedStream& operator=(const CapturedStream&) = delete;

  // Everything written so far, after flushing the stream.
  std::string text() const;

 private:
  std::FILE* stream_;
  int fd_;
  int savedFd_;
  std::FILE* file_;
};

struct CapturedStdout : CapturedStream {
  CapturedStdout() : CapturedStream(stdout, 1) {}
};

struct CapturedStderr : CapturedStream {
  CapturedStderr() : CapturedStream(stderr, 2) {}
};

#endif  // QUARN_CAPTURED_STREAM_H
