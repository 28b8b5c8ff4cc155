// quarn: prints a version banner, opens one GLUT window with an OpenGL
// context, reports what the GL implementation says about itself, and exits.
#include "quarn.h"

#include <GL/glu.h>
#include <GL/glut.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#if defined(__SSE2__) && !defined(QUARN_PORTABLE_SCAN)
#include <emmintrin.h>
#define QUARN_SSE2_SCAN 1
#endif

int g_iWindowWidthCurrent = 640;
int g_iWindowHeightCurrent = 360;
bool g_bWindowFullScreen = false;

namespace {

// Shown in place of a GL string that the implementation does not give. It is
// what the C library has always printed for one, so reports stay comparable.
const char* const kNoGlString = "(null)";

const char* printable(const GLubyte* glString) {
  return glString != nullptr ? reinterpret_cast<const char*>(glString)
                             : kNoGlString;
}

}  // namespace

void display_gl_env() {
  // Fetch all four first, then print, so the report reflects one moment.
  const GLubyte* vendor = glGetString(GL_VENDOR);
  const GLubyte* renderer = glGetString(GL_RENDERER);
  const GLubyte* version = glGetString(GL_VERSION);
  const GLubyte* extensions = glGetString(GL_EXTENSIONS);
  std::printf("OpenGL Vendor: %s\n", printable(vendor));
  std::printf("OpenGL Renderer: %s\n", printable(renderer));
  std::printf("OpenGL Version: %s\n", printable(version));
  std::printf("OpenGL Extensions: %s\n", printable(extensions));
}

void init() {
  display_gl_env();
}

namespace {

// The extension list is read in blocks of this many bytes, one bit of a
// BlankMask for each.
constexpr std::size_t kBlockSize = 64;
using BlankMask = std::uint64_t;

BlankMask blank_mask_portable(const char* block, std::size_t count) {
  BlankMask mask = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (block[i] == ' ') mask |= BlankMask{1} << i;
  }
  return mask;
}

// Bit i is set where block[i] is a blank, for the first count bytes (at most
// kBlockSize). Finding the blanks of a whole block at once, instead of
// measuring the list token by token with strcspn, spares a call and a hard
// to predict branch per token; it is what keeps the query as fast as a bare
// strstr over the few hundred names a driver advertises.
BlankMask blank_mask(const char* block, std::size_t count) {
#ifdef QUARN_SSE2_SCAN
  if (count == kBlockSize) {
    const __m128i blanks = _mm_set1_epi8(' ');
    BlankMask mask = 0;
    for (std::size_t lane = 0; lane < kBlockSize; lane += 16) {
      const __m128i bytes =
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + lane));
      const auto laneMask = static_cast<std::uint32_t>(
          _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, blanks)));
      mask |= BlankMask{laneMask} << lane;
    }
    return mask;
  }
#endif
  return blank_mask_portable(block, count);
}

bool token_is(const char* token, std::size_t tokenLength, const char* name,
              std::size_t nameLength) {
  return tokenLength == nameLength && std::memcmp(token, name, nameLength) == 0;
}

}  // namespace

GLboolean query_gl_extension(const char* extName) {
  if (extName == nullptr) return GL_FALSE;
  const auto* list = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
  if (list == nullptr) return GL_FALSE;
  const std::size_t length = std::strlen(list);
  const std::size_t nameLength = std::strlen(extName);

  // Knowing the length up front lets every full block be read whole without
  // ever reading past the list's end. Each blank ends the token that began
  // one byte after the blank before it (or at the start); the token after
  // the last blank runs to the end, and exists only if the list does not
  // end right there.
  std::size_t tokenStart = 0;
  for (std::size_t block = 0; block < length; block += kBlockSize) {
    const std::size_t count = std::min(kBlockSize, length - block);
    for (BlankMask blanks = blank_mask(list + block, count); blanks != 0;
         blanks &= blanks - 1) {
      const std::size_t tokenEnd = block + std::countr_zero(blanks);
      if (token_is(list + tokenStart, tokenEnd - tokenStart, extName,
                   nameLength)) {
        return GL_TRUE;
      }
      tokenStart = tokenEnd + 1;
    }
  }
  const bool lastMatches =
      tokenStart < length &&
      token_is(list + tokenStart, length - tokenStart, extName, nameLength);
  return lastMatches ? GL_TRUE : GL_FALSE;
}

void display_gl_error() {
  const GLenum code = glGetError();
  if (code == GL_NO_ERROR) return;
  const GLubyte* text = gluErrorString(code);
  if (text != nullptr) {
    std::fprintf(stderr, "OpenGL Error: %s\n",
                 reinterpret_cast<const char*>(text));
  } else {
    // GLU knows only the codes of its own day; name the code itself so
    // the line still tells which error it was.
    std::fprintf(stderr, "OpenGL Error: unknown error 0x%04X\n", code);
  }
}

#ifndef QUARN_NO_MAIN

namespace {

const char* const kVersionBanner =
    "$RCSfile: quarn,v $ $Revision: 1.6 $ $Date: 2006/12/01 04:53:57 $ ";

// Stands in for argv[0] when the process is started with no arguments at all.
char kProgramName[] = "quarn";

constexpr unsigned int kDisplayMode =
    GLUT_RGBA | GLUT_DOUBLE | GLUT_ACCUM | GLUT_DEPTH | GLUT_STENCIL;
static_assert(kDisplayMode == 54, "the mode word quarn has always requested");
constexpr int kWindowWidth = 640;
constexpr int kWindowX = 0;
constexpr int kWindowY = 64;

// A descriptor among 0, 1 and 2 that the parent left closed would be handed
// to the toolkit's display connection, and the report would then be written
// into the X server's socket, where nothing reads it. Parking /dev/null
// there keeps the toolkit off them; standard output gets it read-only, so
// that writing the report still fails as it would on the closed descriptor
// and is reported as a failure. Where there is no /dev/null (a minimal
// container), the root folder opened read-only serves as well: reads and
// writes on it fail. False when a descriptor stays closed all the same.
bool keep_standard_descriptors_taken() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int flags = fd == STDERR_FILENO ? O_WRONLY : O_RDONLY;
    int opened = open("/dev/null", flags);
    if (opened == -1) opened = open("/", O_RDONLY | O_DIRECTORY);
    if (opened != fd) {
      if (opened != -1) close(opened);
      return false;
    }
  }
  return true;
}

// Standard output is buffered, so a failed write may only show here. A
// report that never reached its reader must not end with status 0.
int finish_standard_output() {
  // A write that failed inside the report left its reason in errno; the
  // buffered writes after it leave errno alone, and the flush below may
  // have nothing left to write and so give no reason of its own.
  const int reasonSoFar = errno;
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0;
  if (flushed && !std::ferror(stdout)) return 0;
  int reason = !flushed && errno != 0 ? errno : reasonSoFar;
  if (reason == 0) reason = EIO;
  std::fprintf(stderr, "quarn: write error: %s\n", std::strerror(reason));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (!keep_standard_descriptors_taken()) {
    std::fprintf(stderr,
                 "quarn: cannot hold a closed standard descriptor: %s\n",
                 std::strerror(errno));
    return 1;
  }
  std::printf("%s\n", kVersionBanner);

  // Linux turns an empty argument vector into one empty argument; either
  // way there is no name to hand the toolkit or to show as the title.
  char* fallbackArgv[] = {kProgramName, nullptr};
  if (argc < 1 || argv == nullptr) {
    argc = 1;
    argv = fallbackArgv;
  } else if (argv[0] == nullptr || argv[0][0] == '\0') {
    argv[0] = kProgramName;
  }
  glutInit(&argc, argv);
  glutInitDisplayMode(kDisplayMode);
  glutInitWindowSize(kWindowWidth, g_iWindowHeightCurrent);
  glutInitWindowPosition(kWindowX, kWindowY);
  glutCreateWindow(argv[0] != nullptr ? argv[0] : kProgramName);

  display_gl_env();
  return finish_standard_output();
}

#endif  // QUARN_NO_MAIN
