// quarn's operations in real contexts: freeglut, Mesa's software renderer
// and the private Xvfb server, as other GL code would call them, in the
// toolkit's default context, a 3.3 core profile and a forward-compatible 3.0
// context; and from two threads at once, through GLX. The Windows build runs
// the contexts' cases under Wine, whose WGL the same server serves.
#include <gtest/gtest.h>

#define GL_GLEXT_PROTOTYPES 1
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif
#include <GL/freeglut.h>
#include <GL/glext.h>
#include <GL/glu.h>
#ifndef _WIN32
#include <GL/glx.h>
#include <X11/Xlib.h>
// Xlib's macros with common names; gtest's own code uses None.
#undef None
#undef Bool
#undef Status
#endif

#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "captured_stream.h"
#include "quarn.h"
#ifndef _WIN32
#include "process.h"
#endif

namespace {

struct ContextKind {
  const char* name;
  int major;  // 0: the toolkit's default context
  int minor;
  int profile;
  int flags;
  bool indexed;  // whether the context lists its extensions only by index
};

const ContextKind kContexts[] = {
    {"Default", 0, 0, 0, 0, false},
    {"Core33", 3, 3, GLUT_CORE_PROFILE, 0, true},
    {"ForwardCompatible30", 3, 0, 0, GLUT_FORWARD_COMPATIBLE, true},
};

// One window per kind of context, all made once per process: the toolkit
// starts once, and each window's context is made current in turn.
int window_for(const ContextKind& kind) {
  static std::map<std::string, int> windows;
  if (windows.empty()) {
    int argc = 1;
    char name[] = "real_gl_test";
    char* argv[] = {name, nullptr};
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE | GLUT_DEPTH);
    for (const ContextKind& each : kContexts) {
      if (each.major != 0) {
        glutInitContextVersion(each.major, each.minor);
        glutInitContextProfile(each.profile);
        glutInitContextFlags(each.flags);
      }
      windows[each.name] = glutCreateWindow(each.name);
    }
  }
  return windows.at(kind.name);
}

class RealContext : public ::testing::TestWithParam<ContextKind> {
 protected:
  void SetUp() override {
#ifdef _WIN32
    // Wine has the display already; the lines must end as quarn writes them.
    _setmode(_fileno(stdout), _O_BINARY);
#else
    const std::string display = test_display(QUARN_XVFB_DIR);
    if (display.empty())
      GTEST_FAIL() << "no private X server: did xvfb.start pass?";
    setenv("DISPLAY", display.c_str(), 1);
#endif
    glutSetWindow(window_for(GetParam()));
    while (glGetError() != GL_NO_ERROR) {
    }
  }
};

const char* extension_at(GLint i) {
#ifdef _WIN32
  const auto getStringi = reinterpret_cast<PFNGLGETSTRINGIPROC>(
      reinterpret_cast<void*>(wglGetProcAddress("glGetStringi")));
#else
  const auto getStringi = &glGetStringi;
#endif
  return reinterpret_cast<const char*>(
      getStringi(GL_EXTENSIONS, static_cast<GLuint>(i)));
}

// The whole-string list as the context gives it.
std::string whole_list() {
  return reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
}

// The context's own list, read the way the context offers it.
std::vector<std::string> own_names(bool indexed) {
  std::vector<std::string> names;
  if (indexed) {
    GLint count = 0;
    glGetIntegerv(GL_NUM_EXTENSIONS, &count);
    for (GLint i = 0; i < count; ++i) names.emplace_back(extension_at(i));
  } else {
    std::istringstream words(whole_list());
    for (std::string name; words >> name;) names.push_back(name);
  }
  return names;
}

// Catches names the query misses in a real driver's list, in any kind of
// context, or heads of them and unknown names that it takes for advertised
// ones; and a query that leaves a GL error of its own.
TEST_P(RealContext, FindsEveryNameOfTheContextsOwnListAndNoOther) {
  const std::vector<std::string> list = own_names(GetParam().indexed);
  const std::set<std::string> names(list.begin(), list.end());
  ASSERT_GT(names.size(), 30u);
  for (const std::string& name : names) {
    EXPECT_EQ(query_gl_extension(name.c_str()), GL_TRUE) << name;
    const std::string head = name.substr(0, name.size() - 1);
    if (names.count(head) == 0) {
      EXPECT_EQ(query_gl_extension(head.c_str()), GL_FALSE) << head;
    }
  }
  EXPECT_EQ(query_gl_extension("GL_QUARN_no_such_extension"), GL_FALSE);
  // The empty name is there only as an empty entry: Wine adds its own
  // names after Mesa's trailing blank, which makes one.
  const bool emptyEntry =
      !GetParam().indexed && (whole_list().find("  ") != std::string::npos ||
                              whole_list().rfind(' ', 0) == 0);
  EXPECT_EQ(query_gl_extension(""), emptyEntry ? GL_TRUE : GL_FALSE);
#ifdef _WIN32
  if (!GetParam().indexed) {
    EXPECT_TRUE(emptyEntry) << "Wine's list has none";
  }
#endif
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// Catches a report that prints "(null)" for a core context's extensions, and
// calls that swallow the caller's pending error or leave one of their own.
TEST_P(RealContext, ReportsTheListAndKeepsTheCallersError) {
  glEnable(0xFFFF);  // no such capability: GL_INVALID_ENUM, the caller's
  CapturedStdout out;
  display_gl_env();
  query_gl_extension("GL_KHR_debug");
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_INVALID_ENUM));
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

  std::string joined;
  for (const std::string& name : own_names(GetParam().indexed)) {
    joined += (joined.empty() ? "" : " ") + name;
  }
  const std::string text = out.text();
  const std::string line = text.substr(text.find("OpenGL Extensions: "));
  if (GetParam().indexed) {
    EXPECT_EQ(line, "OpenGL Extensions: " + joined + "\n");
  } else {
    EXPECT_EQ(line, "OpenGL Extensions: " + whole_list() + "\n");
  }
}

// Catches a reporter that misses a real driver's error, words it other
// than GLU does, writes it to standard output, or reports it twice.
TEST_P(RealContext, ReportsAProvokedErrorOnceInGlusWords) {
  glEnable(0xFFFF);
  CapturedStdout out;
  CapturedStderr err;
  display_gl_error();
  const std::string text =
      reinterpret_cast<const char*>(gluErrorString(GL_INVALID_ENUM));
  EXPECT_EQ(err.text(), "OpenGL Error: " + text + "\n");
  display_gl_error();
  EXPECT_EQ(err.text(), "OpenGL Error: " + text + "\n");
  EXPECT_EQ(out.text(), "");
}

#ifndef _WIN32

// A 3.3 core context of its own with a small pbuffer to be current on.
struct CoreContext {
  GLXContext context;
  GLXPbuffer pbuffer;
};

CoreContext make_core_context(Display* display, GLXFBConfig config) {
  const auto create =
      reinterpret_cast<PFNGLXCREATECONTEXTATTRIBSARBPROC>(glXGetProcAddressARB(
          reinterpret_cast<const GLubyte*>("glXCreateContextAttribsARB")));
  const int contextAttributes[] = {GLX_CONTEXT_MAJOR_VERSION_ARB,
                                   3,
                                   GLX_CONTEXT_MINOR_VERSION_ARB,
                                   3,
                                   GLX_CONTEXT_PROFILE_MASK_ARB,
                                   GLX_CONTEXT_CORE_PROFILE_BIT_ARB,
                                   0};
  const int pbufferAttributes[] = {GLX_PBUFFER_WIDTH, 16, GLX_PBUFFER_HEIGHT,
                                   16, 0};
  return {create(display, config, nullptr, 1, contextAttributes),
          glXCreatePbuffer(display, config, pbufferAttributes)};
}

// Catches reports that interleave when two threads, each with its own
// current core context, report at once: a core context's extension line is
// printed entry by entry, so every report must hold the stream throughout.
TEST(ConcurrentReports, ComeOutWholeFromTwoThreadsInCoreContexts) {
  const std::string name = test_display(QUARN_XVFB_DIR);
  if (name.empty()) GTEST_FAIL() << "no private X server: did xvfb.start pass?";
  XInitThreads();
  Display* display = XOpenDisplay(name.c_str());
  ASSERT_NE(display, nullptr);
  const int configAttributes[] = {GLX_DRAWABLE_TYPE, GLX_PBUFFER_BIT, 0};
  int count = 0;
  GLXFBConfig* configs = glXChooseFBConfig(display, DefaultScreen(display),
                                           configAttributes, &count);
  ASSERT_GT(count, 0);
  const CoreContext contexts[] = {make_core_context(display, configs[0]),
                                  make_core_context(display, configs[0])};
  constexpr int kReportsPerThread = 200;
  std::string text;
  {
    CapturedStdout out;
    std::vector<std::thread> threads;
    for (const CoreContext& each : contexts) {
      threads.emplace_back([display, each] {
        glXMakeContextCurrent(display, each.pbuffer, each.pbuffer,
                              each.context);
        for (int i = 0; i < kReportsPerThread; ++i) display_gl_env();
        glXMakeContextCurrent(display, 0, 0, nullptr);
      });
    }
    for (std::thread& thread : threads) thread.join();
    text = out.text();
  }
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 2u * kReportsPerThread * 4);
  EXPECT_EQ(lines[3].rfind("OpenGL Extensions: GL_", 0), 0u) << lines[3];
  for (std::size_t i = 4; i < lines.size(); ++i) {
    ASSERT_EQ(lines[i], lines[i % 4]) << "line " << i;
  }
  for (const CoreContext& each : contexts) {
    glXDestroyContext(display, each.context);
    glXDestroyPbuffer(display, each.pbuffer);
  }
  XFree(configs);
  XCloseDisplay(display);
}

#endif  // _WIN32

INSTANTIATE_TEST_SUITE_P(Contexts, RealContext, ::testing::ValuesIn(kContexts),
                         [](const auto& tested) { return tested.param.name; });

}  // namespace
