// The start-up sequence, run against the scripted GL and GLUT doubles: what
// main asks of the toolkit, in which order, and what it writes.
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
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

int call_egl_main(std::vector<std::string> words) {
  words.insert(words.begin(), "quarn-egl");
  std::vector<char*> argv;
  argv.reserve(words.size() + 1);
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  return quarn_egl_main(static_cast<int>(words.size()), argv.data());
}

EglRun run_egl(std::vector<std::string> words) {
  CapturedStdout out;
  CapturedStderr err;
  const int status = call_egl_main(std::move(words));
  return {status, out.text(), err.text()};
}

// Runs quarn-egl in a child process that `prepare` sets up first, as
// another user or in a mount namespace of its own, leaving the test's
// process as it was.
EglRun run_egl_in_child(std::vector<std::string> words, void (*prepare)()) {
  CapturedStdout out;
  CapturedStderr err;
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    prepare();
    const int status = call_egl_main(std::move(words));
    std::fflush(nullptr);
    _exit(status);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out.text(), err.text()};
}

void become_nobody() {
  if (getuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 ||
                        setuid(65534) != 0)) {
    std::perror("cannot become nobody");
    _exit(99);
  }
}

// /dev as NVIDIA's kernel driver leaves it, in a mount namespace of the
// child's own: /dev/nvidia0 and nothing else.
void give_an_nvidia_driver() {
  if (unshare(CLONE_NEWNS) != 0 ||
      mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount("none", "/dev", "tmpfs", 0, nullptr) != 0 ||
      close(open("/dev/nvidia0", O_CREAT | O_WRONLY, 0666)) != 0) {
    std::perror("cannot make /dev/nvidia0");
    _exit(99);
  }
}

// sysfs as the kernel leaves it for a render node of vgem, which no EGL
// driver serves, in a mount namespace of the child's own: /dev/null's
// numbers stand for the node's, so that /dev/null is the node.
void give_dev_null_a_vgem_driver() {
  if (unshare(CLONE_NEWNS) != 0 ||
      mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount("none", "/sys/dev/char", "tmpfs", 0, nullptr) != 0 ||
      mkdir("/sys/dev/char/1:3", 0755) != 0 ||
      mkdir("/sys/dev/char/1:3/device", 0755) != 0 ||
      symlink("../../../bus/platform/drivers/vgem",
              "/sys/dev/char/1:3/device/driver") != 0) {
    std::perror("cannot give /dev/null a driver");
    _exit(99);
  }
}

// Why a case that needs a mount namespace, and so root, is skipped: in the
// words of the scripts cases, which scripts/test counts after CTest's
// summary, where CTest itself names a skip without its reason.
const char* const kNeedsRoot = "not root: skipped";

const char* const kGpu = "EGL_EXT_device_drm_render_node";
// What the scripted GL strings make of the report.
const std::string kReportLines =
    "OpenGL Vendor: V\nOpenGL Renderer: R\n"
    "OpenGL Version: 1.0\nOpenGL Extensions: GL_A GL_B \n";
const char* const kNvidia = "EGL_NV_device_cuda EGL_EXT_device_query_name";
const char* const kSoftware =
    "EGL_MESA_device_software EGL_EXT_device_drm_render_node";

class EglStartupTest : public StartupTest {};

// Catches a software device preferred to a GPU, a GPU reached through the
// wrong device, or a listing out of the order the report uses.
TEST_F(EglStartupTest, PrefersAGpuToSoftwareThenSurfaceless) {
  scripted::script().egl.devices = {{kSoftware, nullptr},
                                    {kGpu, "/nonexistent/renderD128"}};
  EXPECT_EQ(run_egl({"--list-devices"}).out,
            "/nonexistent/renderD128\tGPU\nsoftware\tMesa's software renderer\n"
            "surfaceless\tMesa's surfaceless platform\n");
  const EglRun run = run_egl({});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, kBannerLine + kReportLines);
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
  EXPECT_EQ(run_egl({"--list-devices"}).out,
            "surfaceless\tMesa's surfaceless platform\n");
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
// goes on to a report in no context: each step's own line, after the banner;
// or, where no driver offers surfaceless, a line that does not say so.
TEST_F(EglStartupTest, NamesTheStepThatFailedAndEglsError) {
  const struct {
    const char* call;
    EGLint error;
    const char* line;
  } kSteps[] = {
      {"eglGetPlatformDisplayEXT", EGL_BAD_PARAMETER,
       "cannot get an EGL display on software: EGL_BAD_PARAMETER"},
      {"eglGetPlatformDisplayEXT", EGL_BAD_DEVICE_EXT,
       "cannot get an EGL display on software: EGL_BAD_DEVICE_EXT"},
      {"eglGetPlatformDisplayEXT", EGL_SUCCESS,
       "cannot get an EGL display on software: EGL gives no error"},
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
    const EglRun run = run_egl({"--device=software"});
    EXPECT_EQ(run.status, 1) << step.call;
    EXPECT_EQ(run.out, kBannerLine);
    EXPECT_EQ(run.err, std::string("quarn-egl: ") + step.line + "\n");
  }
  // Surfaceless, tried where nothing else is, says that no driver offers it
  // (where libEGL has no driver at all, the real stack shows).
  scripted::reset();
  scripted::script().egl.clientExtensions = "EGL_EXT_platform_device";
  scripted::script().egl.devices.clear();
  scripted::script().egl.failing = "eglGetPlatformDisplayEXT";
  scripted::script().egl.error = EGL_BAD_PARAMETER;
  EXPECT_EQ(run_egl({}).err,
            "quarn-egl: cannot get an EGL display on surfaceless: "
            "EGL_BAD_PARAMETER (no EGL driver here offers it: Mesa's, "
            "libEGL_mesa.so.0, does)\n");
  scripted::reset();
  EXPECT_EQ(run_egl({"--device=/dev/dri/renderD129"}).err,
            "quarn-egl: no device /dev/dri/renderD129 (quarn-egl "
            "--list-devices names them)\n");
}

// Catches options that run a report they do not ask for: a misspelt one, or
// --device without a name, is refused with the usage, before any EGL call.
TEST_F(EglStartupTest, RefusesArgumentsItDoesNotKnow) {
  const std::vector<std::vector<std::string>> kRefused = {
      {"--devices"}, {"-sync"}, {"--device"}, {"--device", ""}};
  for (const auto& arguments : kRefused) {
    const EglRun run = run_egl(arguments);
    EXPECT_EQ(run.status, 2) << arguments[0];
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("quarn-egl: unknown argument", 0), 0u) << run.err;
  }
  EXPECT_THAT(scripted::calls(), ::testing::IsEmpty());
  EXPECT_EQ(run_egl({"--help"}).out.rfind("usage: quarn-egl", 0), 0u);
}

// Catches a device named otherwise than by its render node, CUDA index,
// software or place (an empty node name is none); a name two devices
// share, which --device cannot tell apart; a GPU without a render node
// ranked below software; a driver's tab or line break splitting a line; or
// a render node listed without the kernel driver that sysfs names. Nodes
// that no machine has keep the rows from meeting a real GPU's.
TEST_F(EglStartupTest, NamesEachDeviceOnceAndRanksEveryGpuFirst) {
  scripted::script().egl.devices = {
      {kSoftware, nullptr},
      {kGpu, "/nonexistent/renderD128"},
      {kNvidia, nullptr, 1, "", 0, false, "NVIDIA\tCorporation", "H200\nNVL"},
      {kGpu, "/nonexistent/renderD128"},
      {"", nullptr},
      {kGpu, ""}};
  EXPECT_EQ(run_egl({"--list-devices"}).out,
            "/nonexistent/renderD128\tGPU\n"
            "cuda:1\tGPU: NVIDIA Corporation, H200 NVL\n"
            "/nonexistent/renderD128#2\tGPU\n"
            "device 4\tGPU\n"
            "device 5\tGPU\n"
            "software\tMesa's software renderer\n"
            "surfaceless\tMesa's surfaceless platform\n");
  for (const auto& [name, device] : {std::pair{"/nonexistent/renderD128", 2},
                                     {"/nonexistent/renderD128#2", 4},
                                     {"cuda:1", 3},
                                     {"device 4", 5}}) {
    scripted::calls().clear();
    EXPECT_EQ(run_egl({"--device", name}).status, 0) << name;
    EXPECT_EQ(scripted::calls().at(0), "eglGetPlatformDisplayEXT(device " +
                                           std::to_string(device) + ")");
  }
  if (geteuid() != 0) GTEST_SKIP() << kNeedsRoot;
  scripted::script().egl.devices = {{kGpu, "/dev/null"}};
  EXPECT_EQ(
      run_egl_in_child({"--list-devices"}, give_dev_null_a_vgem_driver).out,
      "/dev/null\tGPU; kernel driver vgem\n"
      "surfaceless\tMesa's surfaceless platform\n");
}

// Catches a run that stops at the first failing device though a later one
// serves, a failure without its cause, a device left initialized, a
// --device that falls back, or a served line where none was asked for.
TEST_F(EglStartupTest, TriesEachDeviceInTurnAndNamesEachFailure) {
  scripted::script().egl.devices = {
      {kSoftware, nullptr},
      {kGpu, "/nonexistent/renderD128", 0, "eglInitialize",
       EGL_NOT_INITIALIZED},
      {kNvidia, nullptr, 0, "eglCreateContext", EGL_BAD_MATCH}};
  const std::string failures =
      "quarn-egl: cannot initialize EGL on /nonexistent/renderD128: "
      "EGL_NOT_INITIALIZED (cannot open /nonexistent/renderD128: No such "
      "file or directory)\n"
      "quarn-egl: cannot create an OpenGL context on cuda:0: EGL_BAD_MATCH\n";
  EglRun run = run_egl({});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kBannerLine + kReportLines);
  EXPECT_EQ(run.err, failures);
  EXPECT_EQ(std::count(scripted::calls().begin(), scripted::calls().end(),
                       "eglTerminate()"),
            2);
  run = run_egl({"--say-device"});
  EXPECT_EQ(run.err, failures +
                         "quarn-egl: served by software (Mesa's software "
                         "renderer)\n");
  run = run_egl({"--device=cuda:0", "--no-banner"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err,
            "quarn-egl: cannot create an OpenGL context on cuda:0: "
            "EGL_BAD_MATCH\n");
  scripted::script().egl.clientExtensions = "EGL_EXT_platform_device";
  scripted::script().egl.devices[0].failing = "eglMakeCurrent";
  scripted::script().egl.devices[0].error = EGL_BAD_ACCESS;
  run = run_egl({});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, kBannerLine);
  EXPECT_EQ(run.err, failures +
                         "quarn-egl: cannot make the context current on "
                         "software: EGL_BAD_ACCESS\n");
}

// Catches a render node this user may not open reported without the
// reason, or without the group that would let them in; or one that opens
// but fails reported without its kernel driver.
TEST_F(EglStartupTest, SaysWhyARenderNodeCannotBeOpened) {
  char folder[] = "/tmp/quarn-node-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  chmod(folder, 0755);
  const std::string node = std::string(folder) + "/renderD128";
  close(open(node.c_str(), O_CREAT | O_WRONLY, 0));
  struct stat info {};
  stat(node.c_str(), &info);
  const group* owner = getgrgid(info.st_gid);
  scripted::script().egl.devices = {
      {kGpu, node.c_str(), 0, "eglInitialize", EGL_NOT_INITIALIZED}};
  const EglRun run = run_egl_in_child({"--device", node}, become_nobody);
  unlink(node.c_str());
  rmdir(folder);
  ASSERT_NE(owner, nullptr);
  EXPECT_EQ(run.err, "quarn-egl: cannot initialize EGL on " + node +
                         ": EGL_NOT_INITIALIZED (cannot open " + node +
                         ": Permission denied; add this user to group " +
                         owner->gr_name + ")\n");
  if (geteuid() != 0) GTEST_SKIP() << kNeedsRoot;
  scripted::script().egl.devices = {
      {kGpu, "/dev/null", 0, "eglInitialize", EGL_NOT_INITIALIZED}};
  EXPECT_EQ(
      run_egl_in_child({"--device=/dev/null"}, give_dev_null_a_vgem_driver).err,
      "quarn-egl: cannot initialize EGL on /dev/null: EGL_NOT_INITIALIZED "
      "(its kernel driver is vgem)\n");
}

// Catches a device with OpenGL ES alone given up, asked for ES 1, or used
// without a word that the report is OpenGL ES's.
TEST_F(EglStartupTest, ReportsOpenGlEsWhereTheDeviceHasNoDesktopGl) {
  scripted::script().egl.devices = {
      {kGpu, "/dev/dri/renderD128", 0, "", 0, true}};
  const EglRun run = run_egl({});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err,
            "quarn-egl: /dev/dri/renderD128 offers no desktop OpenGL (cannot "
            "find an OpenGL config: none matches); reporting OpenGL ES\n");
  EXPECT_THAT(scripted::calls(), ::testing::IsSupersetOf(
                                     {"eglBindAPI(0x30A0)",
                                      "eglChooseConfig(0x3040=0x4, 0x3033=0x0)",
                                      "eglCreateContext(0x3098=2)"}));
}

// Catches an NVIDIA GPU that EGL cannot see passed over in silence, where
// software served or where nothing did, or named where NVIDIA's EGL device
// is there and only failed.
TEST_F(EglStartupTest, SaysWhenAnNvidiaGpuIsHereButNotInEgl) {
  if (geteuid() != 0) GTEST_SKIP() << kNeedsRoot;
  EglRun run = run_egl_in_child({}, give_an_nvidia_driver);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err.rfind("quarn-egl: an NVIDIA GPU is here, but no EGL "
                          "device is NVIDIA's: missing are NVIDIA's EGL "
                          "library (libEGL_nvidia.so.0)",
                          0),
            0u)
      << run.err;
  scripted::script().egl.devices.insert(
      scripted::script().egl.devices.begin(),
      {kNvidia, nullptr, 0, "eglInitialize", EGL_NOT_INITIALIZED});
  run = run_egl_in_child({}, give_an_nvidia_driver);
  EXPECT_EQ(run.err,
            "quarn-egl: cannot initialize EGL on cuda:0: "
            "EGL_NOT_INITIALIZED\n");
  scripted::reset();
  scripted::script().egl.failing = "eglInitialize";
  run = run_egl_in_child({}, give_an_nvidia_driver);
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.err, ::testing::HasSubstr("\nquarn-egl: an NVIDIA GPU is "
                                            "here, but no EGL device is"));
}

// Catches a --version that runs a report or is refused.
TEST_F(EglStartupTest, PrintsTheBannerForVersion) {
  const EglRun run = run_egl({"--version"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kBannerLine);
  EXPECT_THAT(scripted::calls(), ::testing::IsEmpty());
}

}  // namespace
