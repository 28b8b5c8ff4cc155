// quarn-egl against the scripted EGL doubles: its devices ranked and named
// from their facts alone, its diagnosis from facts and from a file system
// tree of the test's own, and the command line and loop through its main.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "banner.h"
#include "captured_stream.h"
#include "egl_devices.h"
#include "egl_diagnosis.h"
#include "egl_identity.h"
#include "egl_software.h"
#include "scripted_gl.h"
#include "temp_tree.h"

// The scripted build gives quarn-egl's main this name.
int quarn_egl_main(int argc, char** argv);

namespace {

using ::testing::ElementsAre;
using namespace quarn_egl;

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

// Runs quarn-egl in a child process that `prepare` sets up first, leaving
// the test's process as it was; -1 for a child ended by a signal.
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

// A file system tree of the test's own, which quarn-egl reads its facts
// under for as long as the object lives.
class FileTree : public TempTree {
 public:
  FileTree() { file_system_root() = root(); }
  ~FileTree() { file_system_root().clear(); }
};

const char* const kGpu = "EGL_EXT_device_drm_render_node";
// What the scripted GL strings make of the report.
const std::string kReportLines =
    "OpenGL Vendor: V\nOpenGL Renderer: R\n"
    "OpenGL Version: 1.0\nOpenGL Extensions: GL_A GL_B \n";
const char* const kNvidia = "EGL_NV_device_cuda EGL_EXT_device_query_name";
const char* const kSoftware =
    "EGL_MESA_device_software EGL_EXT_device_drm_render_node";

class EglStartupTest : public ::testing::Test {
 protected:
  void SetUp() override { scripted::reset_with_report_strings(); }
};

// The listing of the displays, one "name\tdescription" line each.
std::string listing(const std::vector<Display>& displays) {
  std::string text;
  for (const Display& display : displays) {
    text += display.name + "\t" + display.description + "\n";
  }
  return text;
}

// Catches a device named otherwise than by its render node, CUDA index,
// software or place (an empty node name is none); a name two devices share,
// which --device cannot tell apart; a GPU without a render node ranked
// below software; a driver's tab or line break splitting a line; an
// identity left out, or out of its place after the kind; or a --device
// form that picks another device than the first it names in the order
// tried. From the facts alone, with no EGL call.
TEST(EglDevices, RanksNamesAndPicksFromTheFactsAlone) {
  scripted::reset();
  const DeviceFacts software{.egl = 0, .software = true};
  const DeviceFacts mesaNode{.egl = 1,
                             .renderNode = "/dev/dri/renderD128",
                             .kernelDriver = "nvidia",
                             .pci = "0000:3b:00.0"};
  const DeviceFacts nvidia{.egl = 2,
                           .nvidia = true,
                           .cuda = 1,
                           .named = true,
                           .vendor = "NVIDIA\tCorporation",
                           .renderer = "H200\nNVL",
                           .pci = "0000:3b:00.0",
                           .uuid = "0123abcd-0000-1111-2222-333344445555"};
  const DeviceFacts nvidiaNode{.egl = 3,
                               .renderNode = "/dev/dri/renderD128",
                               .nvidia = true,
                               .cuda = 0,
                               .pci = "0000:3b:00.0"};
  const DeviceFacts bare{.egl = 4};
  const std::vector<DeviceFacts> devices = {software, mesaNode, nvidia,
                                            nvidiaNode, bare};
  const std::vector<Display> ranked = ranked_displays(devices, false);
  EXPECT_EQ(listing(ranked),
            "/dev/dri/renderD128\tGPU; egl 1; pci 0000:3b:00.0; kernel "
            "driver nvidia\n"
            "cuda:1\tGPU: NVIDIA Corporation, H200 NVL; egl 2; pci "
            "0000:3b:00.0; cuda 1; uuid 0123abcd-0000-1111-2222-333344445555\n"
            "/dev/dri/renderD128#2\tGPU; egl 3; pci 0000:3b:00.0; cuda 0\n"
            "device 4\tGPU; egl 4\n"
            "software\tsoftware: Mesa's software renderer; egl 0\n");
  EXPECT_EQ(ranked[1].brief,
            "GPU: NVIDIA Corporation, H200 NVL; egl 2; pci 0000:3b:00.0; "
            "cuda 1");
  EXPECT_EQ(ranked[4].brief, "Mesa's software renderer; egl 0");
  EXPECT_EQ(listing(ranked_displays({}, false)),
            "surfaceless\tMesa's surfaceless platform\n");
  const struct {
    const char* form;
    int display;  // -1: none
  } forms[] = {
      {"/dev/dri/renderD128#2", 2},
      {"device 3", -1},
      {"egl:3", 2},
      {"egl:0", 4},
      {"egl:5", -1},
      {"egl:x", -1},
      {"cuda:0", 2},
      {"CUDA:1", 1},
      {"pci:0000:3b:00.0", 0},
      {"pci:00000000:3B:00.0", 0},
      {"PCI:3b:00.0", 0},
      {"pci:3b:00.1", -1},
      {"pci:zz:00.0", -1},
      {"uuid:0123ABCD-0000-1111-2222-333344445555", 1},
      {"uuid:GPU-0123abcd-0000-1111-2222-333344445555", 1},
      {"uuid:0123abcd", -1},
  };
  for (const auto& row : forms) {
    EXPECT_EQ(display_named(ranked, row.form),
              row.display >= 0 ? &ranked[row.display] : nullptr)
        << row.form;
  }
  EXPECT_THAT(scripted::calls(), ::testing::IsEmpty());
}

// Catches --device reaching a device other than the one it names, a
// listing that differs from the ranking's, or an identity that EGL gives
// (the CUDA index, the UUID) left out. Nodes that no machine has keep the
// rows from meeting a real GPU's.
TEST_F(EglStartupTest, ListsAndPicksEachDeviceByItsName) {
  scripted::script().egl.devices = {
      {kSoftware, nullptr},
      {kGpu, "/nonexistent/renderD128"},
      {kNvidia, nullptr, 1, "", 0, false, "NVIDIA\tCorporation", "H200\nNVL"},
      {kGpu, "/nonexistent/renderD128"},
      {"", nullptr},
      {kGpu, ""}};
  scripted::script().egl.devices[2].extensions =
      "EGL_NV_device_cuda EGL_EXT_device_query_name "
      "EGL_EXT_device_persistent_id";
  scripted::script().egl.devices[2].uuid =
      "\x01\x23\xab\xcd\x00\x00\x11\x11"
      "\x22\x22\x33\x33\x44\x44\x55\x55";
  EXPECT_EQ(run_egl({"--list-devices"}).out,
            "/nonexistent/renderD128\tGPU; egl 1\n"
            "cuda:1\tGPU: NVIDIA Corporation, H200 NVL; egl 2; cuda 1; uuid "
            "0123abcd-0000-1111-2222-333344445555\n"
            "/nonexistent/renderD128#2\tGPU; egl 3\n"
            "device 4\tGPU; egl 4\n"
            "device 5\tGPU; egl 5\n"
            "software\tsoftware: Mesa's software renderer; egl 0\n"
            "surfaceless\tMesa's surfaceless platform\n");
  for (const auto& [name, device] :
       {std::pair{"/nonexistent/renderD128", 2},
        {"/nonexistent/renderD128#2", 4},
        {"cuda:1", 3},
        {"uuid:GPU-0123ABCD-0000-1111-2222-333344445555", 3},
        {"egl:4", 5},
        {"device 4", 5}}) {
    scripted::calls().clear();
    EXPECT_EQ(run_egl({"--device", name}).status, 0) << name;
    EXPECT_EQ(scripted::calls().at(0), "eglGetPlatformDisplayEXT(device " +
                                           std::to_string(device) + ")");
  }
}

// Catches a kernel driver, a PCI address, NVIDIA's device files or a group
// read from anywhere but the root folder's tree, a serial port's link taken
// for a PCI address, a render node that is no character device taken for
// one, or the host's /proc/driver/nvidia taken for a GPU in this container.
// /dev/null stands for a render node, its numbers (1:3) for the node's.
TEST(EglFileSystem, ReadsItsFactsUnderTheRootFolder) {
  const FileTree tree;
  tree.link("/dev/dri/renderD128", "/dev/null");
  tree.file("/dev/dri/renderD129");
  tree.file("/sys/devices/pci0000:3a/0000:3b:00.0/x");
  tree.link("/sys/bus/pci/drivers/nvidia/x", "x");
  tree.link("/sys/devices/pci0000:3a/0000:3b:00.0/driver",
            "../../../bus/pci/drivers/nvidia");
  tree.link("/sys/dev/char/1:3/device",
            "../../../devices/pci0000:3a/0000:3b:00.0");
  EXPECT_EQ(kernel_driver("/dev/dri/renderD128"), "nvidia");
  EXPECT_EQ(pci_address("/dev/dri/renderD128"), "0000:3b:00.0");
  EXPECT_EQ(kernel_driver("/dev/dri/renderD129"), "");
  EXPECT_EQ(pci_address("/dev/dri/renderD129"), "");
  EXPECT_EQ(pci_address("/dev/dri/renderD130"), "");
  std::filesystem::remove(std::filesystem::path(file_system_root()) /
                          "sys/dev/char/1:3/device");
  tree.link("/sys/dev/char/1:3/device", "../../../00:00:0.0");
  EXPECT_EQ(pci_address("/dev/dri/renderD128"), "");

  tree.file("/proc/driver/nvidia/gpus/0000:3b:00.0/information");
  EXPECT_FALSE(nvidia_facts().present);
  tree.link("/dev/nvidia0", "/dev/null");
  tree.file("/dev/nvidiactl/x");  // a folder: opening it fails
  const NvidiaFacts nvidia = nvidia_facts();
  EXPECT_TRUE(nvidia.present);
  EXPECT_EQ(nvidia.unopenable.node, "/dev/nvidiactl");
  EXPECT_EQ(nvidia.unopenable.openError, EISDIR);

  tree.file("/etc/passwd",
            "me:x:" + std::to_string(getuid()) + ":0::/:/bin/sh\n");
  tree.file("/etc/group",
            "other:x:9999:\nrender:x:" + std::to_string(getgid()) + ":me\n");
  tree.file("/dev/dri/renderD131/x");
  const NodeFacts folder = node_facts("/dev/dri/renderD131", "i915");
  EXPECT_EQ(folder.openError, EISDIR);
  EXPECT_EQ(folder.group, "render");
  EXPECT_TRUE(folder.inGroupFile);
  EXPECT_TRUE(folder.inLogin);
  EXPECT_EQ(folder.mode, 0755u);
  EXPECT_EQ(node_cause(node_facts("/dev/dri/renderD128", "nvidia")),
            "its kernel driver is nvidia");
}

// Catches a cause line that gives advice that cannot help, or leaves out
// what was found: the group to join for a user already in it (this login,
// or only since it began), for a mode that gives the group nothing, or for
// a group that this user namespace does not map; a kernel driver dropped
// where the node could not be opened; a surfaceless failure that blames
// a missing package where the library is there but does not load, or
// where a variable chose the vendors.
TEST(EglDiagnosis, SaysWhatWasFoundAndNothingElse) {
  const std::string node = "/dev/dri/renderD128";
  const std::string denied = "cannot open " + node + ": Permission denied";
  const auto facts = [&](int error, unsigned mode, bool login, bool file,
                         bool unmapped, const char* driver) {
    return NodeFacts{.node = node,
                     .openError = error,
                     .group = "render",
                     .mode = mode,
                     .inLogin = login,
                     .inGroupFile = file,
                     .unmappedGroup = unmapped,
                     .kernelDriver = driver};
  };
  const struct {
    NodeFacts facts;
    std::string cause;
  } nodes[] = {
      {{.node = node}, ""},
      {{.node = node, .kernelDriver = "nvidia-drm"},
       "its kernel driver is nvidia-drm"},
      {facts(ENOENT, 0, false, false, false, ""),
       "cannot open " + node + ": No such file or directory"},
      {facts(EACCES, 0660, false, false, false, ""),
       denied + "; add this user to group render"},
      {facts(EACCES, 0660, false, false, false, "nvidia-drm"),
       denied + "; add this user to group render; its kernel driver is "
                "nvidia-drm"},
      {facts(EACCES, 0660, false, true, false, ""),
       denied + "; this user joined group render after logging in: log in "
                "again, or run newgrp render"},
      {facts(EACCES, 0600, false, false, false, ""),
       denied + "; its mode, 0600, lets its group in no more than others"},
      {facts(EACCES, 0660, false, false, true, ""),
       denied + "; its group is not mapped into this user namespace"},
      {facts(EACCES, 0660, true, true, false, "i915"),
       denied + "; its kernel driver is i915"},
  };
  for (const auto& row : nodes) {
    EXPECT_EQ(node_cause(row.facts), row.cause) << row.cause;
  }
  const std::string none = "libEGL finds no EGL driver: ";
  EXPECT_EQ(surfaceless_cause("EGL_MESA_platform_surfaceless", {}, ""), "");
  EXPECT_EQ(surfaceless_cause("EGL_EXT_platform_device", {}, ""),
            "no EGL driver here offers it: Mesa's, libEGL_mesa.so.0, does");
  EXPECT_EQ(surfaceless_cause(nullptr, {},
                              "libEGL_mesa.so.0: cannot open shared object "
                              "file: No such file or directory"),
            none + "Mesa's is libEGL_mesa.so.0, in Debian's libegl-mesa0");
  EXPECT_EQ(surfaceless_cause("", {},
                              "libgbm.so.1: cannot open shared object file: "
                              "No such file or directory"),
            none + "Mesa's is libEGL_mesa.so.0, in Debian's libegl-mesa0");
  EXPECT_EQ(surfaceless_cause("", {}, "/lib/libgbm.so.1: file too short"),
            none + "Mesa's does not load: /lib/libgbm.so.1: file too short");
  EXPECT_EQ(
      surfaceless_cause(nullptr, {"__EGL_VENDOR_LIBRARY_FILENAMES=/x"}, ""),
      none + "it loads those that __EGL_VENDOR_LIBRARY_FILENAMES=/x names");
}

// Catches an NVIDIA GPU that EGL cannot see passed over in silence, where
// software served or where nothing did; one named where NVIDIA's EGL
// device is there and only failed, or where a GPU served; a device file
// that this user cannot open blamed on the EGL library.
TEST(EglDiagnosis, NamesAnNvidiaGpuThatEglDoesNotList) {
  const Display gpu{.kind = Kind::Gpu};
  const Display software{.kind = Kind::Software};
  const Display nvidia{.kind = Kind::Gpu, .nvidia = true};
  const NvidiaFacts here{.present = true};
  EXPECT_THAT(unseen_nvidia_note(&software, {software}, here),
              ::testing::StartsWith("an NVIDIA GPU is here, but no EGL "
                                    "device is NVIDIA's: missing are "
                                    "NVIDIA's EGL library"));
  EXPECT_NE(unseen_nvidia_note(nullptr, {software}, here), "");
  EXPECT_EQ(unseen_nvidia_note(&software, {software}, {}), "");
  EXPECT_EQ(unseen_nvidia_note(&software, {nvidia, software}, here), "");
  EXPECT_EQ(unseen_nvidia_note(&gpu, {gpu}, here), "");
  const NvidiaFacts shut{.present = true,
                         .unopenable = {.node = "/dev/nvidia0",
                                        .openError = EACCES,
                                        .group = "video",
                                        .mode = 0660}};
  EXPECT_EQ(unseen_nvidia_note(&software, {software}, shut),
            "an NVIDIA GPU is here, but this user cannot open /dev/nvidia0: "
            "Permission denied; add this user to group video");
}

// Catches a report from software left unexplained where something says
// why, or explained where nothing does.
TEST(EglSoftware, SaysWhySoftwareServedWhereSomethingSays) {
  EXPECT_EQ(software_note({}, {}), "");
  EXPECT_EQ(software_note({"LIBGL_ALWAYS_SOFTWARE=1"}, {}),
            "the report comes from software: LIBGL_ALWAYS_SOFTWARE=1 is set");
  EXPECT_EQ(software_note({"GALLIUM_DRIVER=softpipe"},
                          {"/dev/dri/renderD128 (kernel driver amdgpu)"}),
            "the report comes from software: GALLIUM_DRIVER=softpipe is set; "
            "EGL lists no GPU for /dev/dri/renderD128 (kernel driver amdgpu)");
  const FileTree tree;
  tree.file("/dev/dri/card0");
  tree.file("/dev/dri/renderD129");
  tree.file("/dev/dri/renderD128");
  const Display listed{.kind = Kind::Gpu, .renderNode = "/dev/dri/renderD128"};
  EXPECT_EQ(unlisted_render_nodes({listed}),
            std::vector<std::string>{"/dev/dri/renderD129"});
}

// Catches a software device preferred to a GPU, a GPU reached through the
// wrong device, or a listing out of the order the report uses.
TEST_F(EglStartupTest, PrefersAGpuToSoftwareThenSurfaceless) {
  scripted::script().egl.devices = {{kSoftware, nullptr},
                                    {kGpu, "/nonexistent/renderD128"}};
  EXPECT_EQ(run_egl({"--list-devices"}).out,
            "/nonexistent/renderD128\tGPU; egl 1\n"
            "software\tsoftware: Mesa's software renderer; egl 0\n"
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
                          "eglMakeCurrent(pbuffer)", "glGetString(0x1F02)",
                          "glGetString(0x1F00)", "glGetString(0x1F01)",
                          "glGetString(0x1F02)", "glGetString(0x1F03)",
                          "glGetString(0x1F01)"));
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

// Catches options that run a report they do not ask for: a misspelt one is
// refused with the usage, and --device without a name (last, empty, or
// after '=') says that it needs one, before any EGL call.
TEST_F(EglStartupTest, RefusesArgumentsItDoesNotKnow) {
  for (const auto& arguments :
       std::vector<std::vector<std::string>>{{"--devices"}, {"-sync"}}) {
    const EglRun run = run_egl(arguments);
    EXPECT_EQ(run.status, 2) << arguments[0];
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("quarn-egl: unknown argument '" + arguments[0] +
                                "'\nusage: quarn-egl",
                            0),
              0u)
        << run.err;
  }
  for (const auto& arguments : std::vector<std::vector<std::string>>{
           {"--device"}, {"--device", ""}, {"--device="}}) {
    const EglRun run = run_egl(arguments);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err.rfind("quarn-egl: option '--device' needs a name\n"
                            "usage: quarn-egl",
                            0),
              0u)
        << run.err;
  }
  EXPECT_THAT(scripted::calls(), ::testing::IsEmpty());
  EXPECT_EQ(run_egl({"--help"}).out.rfind("usage: quarn-egl", 0), 0u);
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
                         "renderer; egl 0)\n");
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

// Catches an NVIDIA driver's line missing from a run, or one read from the
// machine's own /dev in place of the root folder's.
TEST_F(EglStartupTest, SaysWhenAnNvidiaGpuIsHereButNotInEgl) {
  const FileTree tree;
  EXPECT_EQ(run_egl({}).err, "");
  tree.file("/dev/nvidia0");
  EglRun run = run_egl({});
  EXPECT_EQ(run.status, 0);
  EXPECT_THAT(run.err, ::testing::StartsWith(
                           "quarn-egl: an NVIDIA GPU is here, but no EGL"));
  scripted::script().egl.failing = "eglInitialize";
  run = run_egl({});
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.err, ::testing::HasSubstr("\nquarn-egl: an NVIDIA GPU is "
                                            "here, but no EGL device is"));
}

// Catches an abort, or a report lost, where a vendor counts more devices
// than any machine has: the first kMaxDevices are asked for, and said so.
TEST_F(EglStartupTest, BoundsTheDeviceCountThatAVendorGives) {
  scripted::script().egl.countedDevices = INT_MAX;
  const EglRun run = run_egl({});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kBannerLine + kReportLines);
  EXPECT_EQ(run.err,
            "quarn-egl: EGL counts 2147483647 devices; the first 256 are "
            "tried\n");
  EXPECT_EQ(run_egl({"--list-devices"}).out,
            "software\tsoftware: Mesa's software renderer; egl 0\n"
            "surfaceless\tMesa's surfaceless platform\n");
}

// Catches a context that gives no version reported as serving, with four
// "(null)" lines, in place of the next device's report.
TEST_F(EglStartupTest, TriesTheNextDeviceWhereAContextGivesNoVersion) {
  scripted::script().egl.devices.insert(scripted::script().egl.devices.begin(),
                                        {kGpu, "/nonexistent/renderD128", 0, "",
                                         0, false, nullptr, nullptr, true});
  const EglRun run = run_egl({"--say-device"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kBannerLine + kReportLines);
  EXPECT_EQ(run.err,
            "quarn-egl: cannot read the OpenGL version on "
            "/nonexistent/renderD128: the context gives none (cannot open "
            "/nonexistent/renderD128: No such file or directory)\n"
            "quarn-egl: served by software (Mesa's software renderer; egl "
            "1)\n");
  EXPECT_THAT(
      scripted::calls(),
      ::testing::IsSupersetOf({"eglMakeCurrent(none)", "eglTerminate()"}));
}

// Standard error as a pipe whose reader has gone.
void give_stderr_a_gone_reader() {
  int ends[2];
  if (pipe(ends) != 0) _exit(99);
  close(ends[0]);
  dup2(ends[1], STDERR_FILENO);
}

// Catches a note that costs the report or its status where it cannot be
// written: SIGPIPE from a failing device's line, or from the served line.
TEST_F(EglStartupTest, KeepsTheReportWhereNotesCannotBeWritten) {
  scripted::script().egl.devices.insert(scripted::script().egl.devices.begin(),
                                        {kGpu, "/nonexistent/renderD128", 0,
                                         "eglInitialize", EGL_NOT_INITIALIZED});
  const EglRun run =
      run_egl_in_child({"--say-device"}, give_stderr_a_gone_reader);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kBannerLine + kReportLines);
}

// Catches a --gpu that falls back to software or surfaceless, that says
// nothing where EGL lists no GPU, or that is taken with --device.
TEST_F(EglStartupTest, TriesOnlyTheGpusWithGpu) {
  EglRun run = run_egl({"--gpu"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, kBannerLine);
  EXPECT_EQ(run.err,
            "quarn-egl: EGL lists no GPU (quarn-egl --list-devices names "
            "what it lists)\n");
  run = run_egl({"--gpu", "--device=software"});
  EXPECT_EQ(run.status, 2);
  EXPECT_THAT(run.err,
              ::testing::StartsWith("quarn-egl: options '--gpu' and '--device' "
                                    "exclude each other\n"));
  scripted::script().egl.devices.push_back({kGpu, "/nonexistent/renderD128", 0,
                                            "eglInitialize",
                                            EGL_NOT_INITIALIZED});
  run = run_egl({"--gpu"});
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.err, ::testing::StartsWith(
                           "quarn-egl: cannot initialize EGL on "
                           "/nonexistent/renderD128: EGL_NOT_INITIALIZED"));
  EXPECT_THAT(scripted::calls(), ::testing::Not(::testing::Contains(
                                     "eglGetPlatformDisplayEXT(device 1)")));
}

// Catches a device with OpenGL ES alone whose ES context fails named by
// its missing desktop config alone, without the ES failure and its error.
TEST_F(EglStartupTest, NamesBothFailuresOfADeviceWithOpenGlEsAlone) {
  scripted::script().egl.devices = {{kGpu, "/nonexistent/renderD128", 0,
                                     "eglCreateContext", EGL_BAD_ALLOC, true}};
  EXPECT_EQ(run_egl({}).err,
            "quarn-egl: cannot create an OpenGL ES context on "
            "/nonexistent/renderD128: EGL_BAD_ALLOC; it offers no desktop "
            "OpenGL (cannot find an OpenGL config: none matches) (cannot "
            "open /nonexistent/renderD128: No such file or directory)\n");
}

// Catches a report from software whose forcing variable goes unsaid, one
// said where a GPU's failure already explains it or --device asked for
// software, and a word where nothing is set and no render node is here.
TEST_F(EglStartupTest, SaysWhySoftwareServedOnlyWhereNothingElseDoes) {
  const FileTree tree;  // no render node, no NVIDIA device file
  for (const char* name :
       {"LIBGL_ALWAYS_SOFTWARE", "GALLIUM_DRIVER",
        "MESA_LOADER_DRIVER_OVERRIDE", "__EGL_VENDOR_LIBRARY_FILENAMES",
        "__EGL_VENDOR_LIBRARY_DIRS"}) {
    unsetenv(name);
  }
  EXPECT_EQ(run_egl({}).err, "");
  setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
  EXPECT_EQ(run_egl({}).err,
            "quarn-egl: the report comes from software: "
            "LIBGL_ALWAYS_SOFTWARE=1 is set\n");
  EXPECT_EQ(run_egl({"--device=software"}).err, "");
  scripted::script().egl.devices.push_back({kGpu, "/nonexistent/renderD128", 0,
                                            "eglInitialize",
                                            EGL_NOT_INITIALIZED});
  EXPECT_THAT(run_egl({}).err,
              ::testing::Not(::testing::HasSubstr("comes from software")));
  unsetenv("LIBGL_ALWAYS_SOFTWARE");
}

// Catches a --version that runs a report or is refused.
TEST_F(EglStartupTest, PrintsTheBannerForVersion) {
  const EglRun run = run_egl({"--version"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kBannerLine);
  EXPECT_THAT(scripted::calls(), ::testing::IsEmpty());
}

}  // namespace
