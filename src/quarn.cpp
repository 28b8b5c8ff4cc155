// quarn: prints a version banner, opens one GLUT window with an OpenGL
// context, reports what the GL implementation says about itself, and exits.
// Built with QUARN_NO_MAIN, it is the module that other GL code links: the
// same operations without main, and without the toolkit.
#define GL_GLEXT_PROTOTYPES 1  // glGetStringi, which GL 3.0 added
#include "quarn.h"

#ifdef _WIN32
#include <windows.h>  // wglGetProcAddress
#endif
#include <GL/gl.h>
#include <GL/glext.h>
#include <GL/glu.h>
#include <stdio.h>  // flockfile or _lock_file, which POSIX or Windows add
#include <algorithm>
#include <bit>
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

// Where the current context keeps its extension list: one blank-separated
// string from glGetString(GL_EXTENSIONS), or entries by index through
// glGetStringi. Core profiles and forward-compatible contexts have only the
// entries; asking them for the string returns null and records an error.
enum class ExtensionList { WholeString, Indexed };

// Entry i of the indexed list. Windows' opengl32.dll exports GL 1.1 alone:
// later functions come from the current context, one per context, so the
// function is asked for on every call.
const GLubyte* extension_at(GLint i) {
#ifdef _WIN32
  const auto getStringi = reinterpret_cast<PFNGLGETSTRINGIPROC>(
      reinterpret_cast<void*>(wglGetProcAddress("glGetStringi")));
  if (getStringi == nullptr) return nullptr;
  return getStringi(GL_EXTENSIONS, static_cast<GLuint>(i));
#else
  return glGetStringi(GL_EXTENSIONS, static_cast<GLuint>(i));
#endif
}

// The C library's lock on a stream: POSIX's flockfile, or the lock of the
// Windows C runtime.
void lock_stream(std::FILE* stream) {
#ifdef _WIN32
  _lock_file(stream);
#else
  flockfile(stream);
#endif
}

void unlock_stream(std::FILE* stream) {
#ifdef _WIN32
  _unlock_file(stream);
#else
  funlockfile(stream);
#endif
}

GLint gl_integer(GLenum name) {
  GLint value = 0;
  glGetIntegerv(name, &value);
  return value;
}

const char* text_of(const GLubyte* glString) {
  return reinterpret_cast<const char*>(glString);
}

bool indexed_list_has(const char* name) {
  const GLint count = gl_integer(GL_NUM_EXTENSIONS);
  for (GLint i = 0; i < count; ++i) {
    const GLubyte* entry = extension_at(i);
    if (entry != nullptr && std::strcmp(text_of(entry), name) == 0) return true;
  }
  return false;
}

// Reads the decimal number at *text and moves past it; false where none
// stands there, or one longer than any version number.
bool read_number(const char** text, unsigned* number) {
  unsigned value = 0;
  int digits = 0;
  for (; **text >= '0' && **text <= '9'; ++*text) {
    if (++digits > 4) return false;
    value = value * 10 + static_cast<unsigned>(**text - '0');
  }
  *number = value;
  return digits > 0;
}

// The major and minor numbers that begin a desktop GL version string
// ("4.5 (Compatibility Profile) Mesa 22.3.6"); false when it begins
// otherwise, as every OpenGL ES version string does ("OpenGL ES 3.2 ...").
bool parse_version(const char* version, unsigned* major, unsigned* minor) {
  return read_number(&version, major) && *version++ == '.' &&
         read_number(&version, minor);
}

// Decides, from the version string already fetched, where the list is. Each
// query it makes is valid in the context as far as it is known at that
// point, so deciding never records a GL error of its own.
ExtensionList extension_list_of(const GLubyte* versionString) {
  if (versionString == nullptr) return ExtensionList::WholeString;
  // The whole string is valid in every OpenGL ES version, and in desktop
  // versions before 3.0; a version that cannot be read gets it too.
  unsigned major = 0;
  unsigned minor = 0;
  if (!parse_version(text_of(versionString), &major, &minor) || major < 3) {
    return ExtensionList::WholeString;
  }
  if (gl_integer(GL_CONTEXT_FLAGS) & GL_CONTEXT_FLAG_FORWARD_COMPATIBLE_BIT) {
    return ExtensionList::Indexed;
  }
  if (major == 3 && minor == 0) return ExtensionList::WholeString;
  if (major > 3 || minor >= 2) {
    const GLint profile = gl_integer(GL_CONTEXT_PROFILE_MASK);
    if (profile & GL_CONTEXT_CORE_PROFILE_BIT) return ExtensionList::Indexed;
    if (profile & GL_CONTEXT_COMPATIBILITY_PROFILE_BIT) {
      return ExtensionList::WholeString;
    }
  }
  // 3.1, or a later context that names no profile: the string is there only
  // where the context keeps the compatibility features.
  return indexed_list_has("GL_ARB_compatibility") ? ExtensionList::WholeString
                                                  : ExtensionList::Indexed;
}

// Shown in place of a GL string that the implementation does not give. It is
// what the C library has always printed for one, so reports stay comparable.
const char* const kNoGlString = "(null)";

const char* printable(const GLubyte* glString) {
  return glString != nullptr ? text_of(glString) : kNoGlString;
}

// The extension line from the indexed list: every entry, one blank between
// two, each fetched as it is printed.
void print_indexed_extensions(GLint count) {
  std::fputs("OpenGL Extensions: ", stdout);
  bool first = true;
  for (GLint i = 0; i < count; ++i) {
    const GLubyte* entry = extension_at(i);
    if (entry == nullptr) continue;
    if (!first) std::putchar(' ');
    std::fputs(text_of(entry), stdout);
    first = false;
  }
  std::putchar('\n');
}

}  // namespace

void display_gl_env() {
  static_assert(sizeof(GLboolean) == sizeof(unsigned char),
                "quarn.h gives the query's GLboolean as unsigned char");
  // Fetch all four first, then print, so the report reflects one moment.
  const GLubyte* vendor = glGetString(GL_VENDOR);
  const GLubyte* renderer = glGetString(GL_RENDERER);
  const GLubyte* version = glGetString(GL_VERSION);
  const bool indexed = extension_list_of(version) == ExtensionList::Indexed;
  const GLubyte* extensions = indexed ? nullptr : glGetString(GL_EXTENSIONS);
  const GLint count = indexed ? gl_integer(GL_NUM_EXTENSIONS) : 0;
  // Held for the whole report, so that another thread's report, printed
  // entry by entry from an indexed list, never comes between its lines.
  lock_stream(stdout);
  std::printf("OpenGL Vendor: %s\n", printable(vendor));
  std::printf("OpenGL Renderer: %s\n", printable(renderer));
  std::printf("OpenGL Version: %s\n", printable(version));
  if (indexed) {
    print_indexed_extensions(count);
  } else {
    std::printf("OpenGL Extensions: %s\n", printable(extensions));
  }
  unlock_stream(stdout);
}

// Weak, so that an application's own init, a common name, takes its place
// instead of clashing with it when libquarn.a is linked.
__attribute__((weak)) void init() {
  display_gl_env();
}

namespace {

// The list's tokens one by one, as the blanks delimit them: the reference
// that every other way of searching the list must agree with.
bool token_walk_finds(const char* list, std::size_t length, const char* name,
                      std::size_t nameLength) {
  const char* const end = list + length;
  for (const char* token = list; token < end;) {
    const auto* blank =
        static_cast<const char*>(std::memchr(token, ' ', end - token));
    const std::size_t tokenLength = (blank != nullptr ? blank : end) - token;
    if (tokenLength == nameLength &&
        std::memcmp(token, name, nameLength) == 0) {
      return true;
    }
    token += tokenLength + 1;
  }
  return false;
}

#ifdef QUARN_SSE2_SCAN

// The list is read in chunks of 64 bytes, one bit of a mask for each byte.
constexpr std::size_t kChunk = 64;
using ChunkMask = std::uint64_t;

// Bit i set where byte i of the 16 is a blank.
ChunkMask lane_blanks(const __m128i* lane) {
  const __m128i bytes = _mm_loadu_si128(lane);
  return static_cast<std::uint32_t>(
      _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(' '))));
}

// Written out lane by lane: a loop over the lanes is left rolled at -O2 and
// then shifts by a count in a register, which costs more than the compares.
ChunkMask full_chunk_blanks(const char* chunk) {
  const auto* lanes = reinterpret_cast<const __m128i*>(chunk);
  return lane_blanks(lanes) | lane_blanks(lanes + 1) << 16 |
         lane_blanks(lanes + 2) << 32 | lane_blanks(lanes + 3) << 48;
}

// The list's last, shorter chunk (count bytes, possibly none), read byte by
// byte so that nothing past the list is read. Its end counts as a blank.
ChunkMask last_chunk_blanks(const char* chunk, std::size_t count) {
  ChunkMask blanks = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (chunk[i] == ' ') blanks |= ChunkMask{1} << i;
  }
  return blanks | ChunkMask{1} << count;
}

// Bit i set where a blank in this chunk stands `gap` bytes after a blank in
// it or in the chunk before; gap is 1 to 63.
ChunkMask blanks_after_blanks(ChunkMask blanks, ChunkMask blanksBefore,
                              unsigned gap) {
  return blanks & (blanks << gap | blanksBefore >> (64 - gap));
}

// Whether a token equal to the name ends at one of the ends marked in the
// chunk, each a blank one name length after a blank: the name's last byte
// is looked at first, then the rest.
bool any_end_has_name(const char* chunk, ChunkMask ends, const char* name,
                      std::size_t nameLength) {
  for (; ends != 0; ends &= ends - 1) {
    const char* end = chunk + std::countr_zero(ends);
    if (end[-1] == name[nameLength - 1] &&
        std::memcmp(end - nameLength, name, nameLength - 1) == 0) {
      return true;
    }
  }
  return false;
}

// Looks for a name of 1 to kChunk - 2 bytes with no blank in it. A token
// equal to the name ends where a blank (or the list's end) stands one name
// length after a blank (or the list's start), and the bytes between are the
// name's. Those pairs of blanks are found for 64 ends at once from the
// chunks' masks, so only the few ends that have one are looked at.
// Measuring the length first is what lets every full chunk be read whole
// without passing the list's end. The state lives in locals, which the
// compilers keep in registers.
bool candidate_scan_finds(const char* list, std::size_t length,
                          const char* name, std::size_t nameLength) {
  const unsigned gap = static_cast<unsigned>(nameLength) + 1;
  // Before the first chunk, the list's start counts as a blank just ahead.
  ChunkMask blanksBefore = ChunkMask{1} << 63;
  std::size_t base = 0;
  for (; base + kChunk <= length; base += kChunk) {
    const ChunkMask blanks = full_chunk_blanks(list + base);
    const ChunkMask ends = blanks_after_blanks(blanks, blanksBefore, gap);
    if (ends != 0 && any_end_has_name(list + base, ends, name, nameLength)) {
      return true;
    }
    blanksBefore = blanks;
  }
  const ChunkMask blanks = last_chunk_blanks(list + base, length - base);
  return any_end_has_name(list + base,
                          blanks_after_blanks(blanks, blanksBefore, gap), name,
                          nameLength);
}

#endif  // QUARN_SSE2_SCAN

// Whether the blank-separated list holds a token equal to name.
bool list_has(const char* list, const char* name) {
  const std::size_t length = std::strlen(list);
  const std::size_t nameLength = std::strlen(name);
#ifdef QUARN_SSE2_SCAN
  // Only a name of at least one byte with no blank in it has a last byte
  // to anchor candidates on and can be no more than one token; the empty
  // name, names with blanks and names longer than any extension's are rare
  // enough for the plain walk.
  if (nameLength > 0 && nameLength + 1 < kChunk &&
      std::strchr(name, ' ') == nullptr) {
    return candidate_scan_finds(list, length, name, nameLength);
  }
#endif
  return token_walk_finds(list, length, name, nameLength);
}

}  // namespace

GLboolean query_gl_extension(const char* extName) {
  if (extName == nullptr) return GL_FALSE;
  if (extension_list_of(glGetString(GL_VERSION)) == ExtensionList::Indexed) {
    return indexed_list_has(extName) ? GL_TRUE : GL_FALSE;
  }
  const GLubyte* list = glGetString(GL_EXTENSIONS);
  if (list == nullptr) return GL_FALSE;
  return list_has(text_of(list), extName) ? GL_TRUE : GL_FALSE;
}

void display_gl_error() {
  const GLenum code = glGetError();
  if (code == GL_NO_ERROR) return;
  const GLubyte* text = gluErrorString(code);
  if (text != nullptr) {
    std::fprintf(stderr, "OpenGL Error: %s\n", text_of(text));
  } else {
    // GLU knows only the codes of its own day; name the code itself so
    // the line still tells which error it was.
    std::fprintf(stderr, "OpenGL Error: unknown error 0x%04X\n", code);
  }
}

#ifndef QUARN_NO_MAIN

#include <GL/glut.h>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "program.h"

namespace {

using quarn_program::kVersionBanner;

// Stands in for a missing or empty argv[0], as the toolkit's program name and
// the window title.
char kProgramName[] = "quarn";

constexpr unsigned int kDisplayMode =
    GLUT_RGBA | GLUT_DOUBLE | GLUT_ACCUM | GLUT_DEPTH | GLUT_STENCIL;
static_assert(kDisplayMode == 54, "the mode word quarn has always requested");
constexpr int kWindowWidth = 640;
constexpr int kWindowX = 0;
constexpr int kWindowY = 64;

}  // namespace

int main(int argc, char** argv) {
  if (!quarn_program::keep_standard_descriptors_taken("quarn")) return 1;
#ifdef _WIN32
  // The report is the implementation's bytes, each line ended by one LF: a
  // stream in text mode would write CR LF.
  _setmode(_fileno(stdout), _O_BINARY);
#endif
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
  glutCreateWindow(argv[0]);

  display_gl_env();
  return quarn_program::finish_standard_output("quarn");
}

#endif  // QUARN_NO_MAIN
