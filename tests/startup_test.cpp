// The start-up sequence, run against the scripted GL and GLUT doubles: what
// main asks of the toolkit, in which order, and what it writes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "banner.h"
#include "captured_stream.h"
#include "quarn.h"
#include "scripted_gl.h"

// The scripted build gives quarn's main this name, so that the test runner
// can keep its own.
int quarn_main(int argc, char** argv);

namespace {

using ::testing::ElementsAre;

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scripted::reset();
    scripted::script().strings = {{GL_VENDOR, "V"},
                                  {GL_RENDERER, "R"},
                                  {GL_VERSION, "1.0"},
                                  {GL_EXTENSIONS, "GL_A GL_B "}};
  }
  void TearDown() override { g_iWindowHeightCurrent = 360; }

  // Runs main on a mutable copy of the given command line.
  int run(std::vector<std::string> words) {
    storage_ = std::move(words);
    argv_.clear();
    for (std::string& word : storage_) argv_.push_back(word.data());
    argv_.push_back(nullptr);
    return quarn_main(static_cast<int>(storage_.size()), argv_.data());
  }

  std::vector<std::string> storage_;
  std::vector<char*> argv_;
};

// Catches a reordered or altered start-up: a request made before the toolkit
// saw the command line, a wrong mode word, size or position, a title taken
// from the wrong argument, or a toolkit option reaching the title.
TEST_F(StartupTest, AsksTheToolkitInOrderWithTheWholeCommandLine) {
  CapturedStdout out;
  EXPECT_EQ(run({"./bin/quarn", "-display", ":7", "-sync", "extra"}), 0);
  EXPECT_THAT(
      scripted::calls(),
      ElementsAre("glutInit(5: ./bin/quarn -display :7 -sync extra)",
                  "glutInitDisplayMode(54)", "glutInitWindowSize(640, 360)",
                  "glutInitWindowPosition(0, 64)",
                  "glutCreateWindow(./bin/quarn)", "glGetString(0x1F00)",
                  "glGetString(0x1F01)", "glGetString(0x1F02)",
                  "glGetString(0x1F03)"));
  EXPECT_EQ(out.text(),
            kBannerLine +
                "OpenGL Vendor: V\nOpenGL Renderer: R\n"
                "OpenGL Version: 1.0\nOpenGL Extensions: GL_A GL_B \n");
}

// Catches a banner written after the toolkit starts (a toolkit that exits on
// a missing display would then lose it), or an explicit flush of it.
TEST_F(StartupTest, WritesTheBannerUnflushedBeforeTheToolkitStarts) {
  CapturedStdout out;
  run({"quarn"});
  const scripted::AtToolkitStart& seen = scripted::atToolkitStart();
  ASSERT_TRUE(seen.called);
  EXPECT_EQ(seen.stdoutWritten, kBannerLine);
  if (!seen.stdoutLineBuffered) {
    EXPECT_EQ(seen.stdoutPending, kBannerLine.size());
  }
}

// Catches a window height that ignores the height global, or a width taken
// from the width global instead of the fixed 640.
TEST_F(StartupTest, RequestsTheHeightFromItsGlobalAndAFixedWidth) {
  CapturedStdout out;
  g_iWindowHeightCurrent = 200;
  g_iWindowWidthCurrent = 999;
  run({"quarn"});
  g_iWindowWidthCurrent = 640;
  EXPECT_THAT(scripted::calls(),
              ::testing::Contains("glutInitWindowSize(640, 200)"));
}

// Catches a null or empty program name or title handed to the toolkit when
// the process was started with an empty argument vector, which Linux turns
// into one empty argument; the other arguments still reach the toolkit.
TEST_F(StartupTest, StandsInAProgramNameForAnEmptyArgumentVector) {
  CapturedStdout out;
  char* empty[] = {nullptr};
  EXPECT_EQ(quarn_main(0, empty), 0);
  EXPECT_EQ(scripted::calls().at(0), "glutInit(1: quarn)");
  EXPECT_EQ(scripted::calls().at(4), "glutCreateWindow(quarn)");
  scripted::calls().clear();
  EXPECT_EQ(run({"", "extra"}), 0);
  EXPECT_EQ(scripted::calls().at(0), "glutInit(2: quarn extra)");
  EXPECT_EQ(scripted::calls().at(4), "glutCreateWindow(quarn)");
}

}  // namespace

// quarn-egl's start-up, against the scripted EGL doubles.
int quarn_egl_main(int argc, char** argv);

namespace {

struct EglRun {
  int status;
  std::string out;
  std::string err;
};

EglRun run_egl(std::vector<std::string> words) {
  words.insert(words.begin(), "quarn-egl");
  std::vector<char*> argv;
  argv.reserve(words.size() + 1);
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  CapturedStdout out;
  CapturedStderr err;
  const int status =
      quarn_egl_main(static_cast<int>(words.size()), argv.data());
  return {status, out.text(), err.text()};
}

const char* const kGpu = "EGL_EXT_device_drm_render_node";
const char* const kSoftware =
    "EGL_MESA_device_software EGL_EXT_device_drm_render_node";

class EglStartupTest : public StartupTest {};

// Catches a software device preferred to a GPU, a GPU reached through the
// wrong device, or a listing out of the order the report uses.
TEST_F(EglStartupTest, PrefersAGpuToSoftwareThenSurfaceless) {
  scripted::script().egl.devices = {{kSoftware, nullptr},
                                    {kGpu, "/dev/dri/renderD128"}};
  EXPECT_EQ(run_egl({"--list-devices"}).out,
            "/dev/dri/renderD128\nsoftware\nsurfaceless\n");
  const EglRun run = run_egl({});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out,
            kBannerLine +
                "OpenGL Vendor: V\nOpenGL Renderer: R\n"
                "OpenGL Version: 1.0\nOpenGL Extensions: GL_A GL_B \n");
  EXPECT_THAT(scripted::calls(),
              ::testing::IsSupersetOf(
                  {"eglGetPlatformDisplayEXT(device 2)", "eglBindAPI(0x30A2)",
                   "eglCreateContext()", "eglMakeCurrent(no surface)"}));
  scripted::calls().clear();
  run_egl({"--device=software"});
  EXPECT_EQ(scripted::calls().at(0), "eglGetPlatformDisplayEXT(device 1)");
}

// Catches a report that gives up where EGL has no device platform, or that
// needs a surfaceless context where the driver has none.
TEST_F(EglStartupTest, UsesSurfacelessWithoutDevicesAndAPbufferWhereNeeded) {
  scripted::script().egl.clientExtensions = "EGL_MESA_platform_surfaceless";
  scripted::script().egl.displayExtensions = "";
  EXPECT_EQ(run_egl({"--list-devices"}).out, "surfaceless\n");
  EXPECT_EQ(run_egl({}).status, 0);
  EXPECT_THAT(scripted::calls(),
              ElementsAre("eglGetPlatformDisplayEXT(0x31DD)", "eglInitialize()",
                          "eglBindAPI(0x30A2)",
                          "eglChooseConfig(0x3040=0x8, 0x3033=0x1)",
                          "eglCreateContext()", "eglCreatePbufferSurface(1x1)",
                          "eglMakeCurrent(pbuffer)", "glGetString(0x1F00)",
                          "glGetString(0x1F01)", "glGetString(0x1F02)",
                          "glGetString(0x1F03)"));
}

// Catches a failure that is silent, unnamed, reported as success, or that
// goes on to a report in no context: each step's own line, after the banner.
TEST_F(EglStartupTest, NamesTheStepThatFailedAndEglsError) {
  const struct {
    const char* call;
    EGLint error;
    const char* line;
  } kSteps[] = {
      {"eglGetPlatformDisplayEXT", EGL_BAD_PARAMETER,
       "cannot get an EGL display on software: EGL_BAD_PARAMETER"},
      {"eglInitialize", EGL_NOT_INITIALIZED,
       "cannot initialize EGL on software: EGL_NOT_INITIALIZED"},
      {"eglBindAPI", EGL_BAD_PARAMETER,
       "cannot bind OpenGL on software: EGL_BAD_PARAMETER"},
      {"eglChooseConfig", EGL_BAD_ATTRIBUTE,
       "cannot find an OpenGL config on software: EGL_BAD_ATTRIBUTE"},
      {"eglCreateContext", EGL_BAD_MATCH,
       "cannot create an OpenGL context on software: EGL_BAD_MATCH"},
      {"eglMakeCurrent", 0x3099,
       "cannot make the context current on software: EGL error 0x3099"},
  };
  for (const auto& step : kSteps) {
    scripted::reset();
    scripted::script().egl.failing = step.call;
    scripted::script().egl.error = step.error;
    const EglRun run = run_egl({});
    EXPECT_EQ(run.status, 1) << step.call;
    EXPECT_EQ(run.out, kBannerLine);
    EXPECT_EQ(run.err, std::string("quarn-egl: ") + step.line + "\n");
  }
  scripted::reset();
  EXPECT_EQ(run_egl({"--device=/dev/dri/renderD129"}).err,
            "quarn-egl: no device /dev/dri/renderD129 (quarn-egl "
            "--list-devices names them)\n");
}

// Catches options that run a report they do not ask for: a misspelt one is
// refused with the usage, before any EGL call.
TEST_F(EglStartupTest, RefusesArgumentsItDoesNotKnow) {
  for (const char* argument : {"--devices", "-sync", "--device"}) {
    const EglRun run = run_egl({argument});
    EXPECT_EQ(run.status, 2) << argument;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("quarn-egl: unknown argument", 0), 0u) << run.err;
  }
  EXPECT_THAT(scripted::calls(), ::testing::IsEmpty());
  EXPECT_EQ(run_egl({"--help"}).out.rfind("usage: quarn-egl", 0), 0u);
}

}  // namespace
