// The built quarn binary, run as a user would on a private Xvfb server with
// Mesa's software renderer: exact output, exit status and streams.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "banner.h"
#include "process.h"

namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class QuarnBinary : public ::testing::Test {
 protected:
  void SetUp() override {
    display_ = test_display(QUARN_XVFB_DIR);
    if (display_.empty())
      GTEST_FAIL() << "no private X server: did xvfb.start pass?";
  }
  Finished run(const std::vector<std::string>& argv,
               StdoutTo stdoutTo = StdoutTo::File) {
    return run_program(QUARN_BINARY, argv, display_, stdoutTo);
  }
  std::string display_;
};

// The report as a whole: exactly the banner and four labelled lines, each
// ended by one newline, status 0 and a silent standard error.
void expect_complete_report(const Finished& run) {
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  ASSERT_EQ(run.out.compare(0, kBannerLine.size(), kBannerLine), 0) << run.out;
  const std::vector<std::string> lines = lines_of(run.out);
  ASSERT_EQ(lines.size(), 5u) << run.out;
  EXPECT_EQ(run.out.back(), '\n');
  const char* labels[] = {"OpenGL Vendor: ", "OpenGL Renderer: ",
                          "OpenGL Version: ", "OpenGL Extensions: "};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(lines[i + 1].rfind(labels[i], 0), 0u) << lines[i + 1];
  }
}

// Catches any byte out of place in a real run to a file, including the
// banner's last blank and the blank Mesa leaves after its last extension.
TEST_F(QuarnBinary, ReportsMesaExactlyToAFile) {
  const Finished run = this->run({QUARN_BINARY});
  expect_complete_report(run);
  const std::vector<std::string> lines = lines_of(run.out);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_NE(lines[2].find("llvmpipe"), std::string::npos) << lines[2];
  EXPECT_NE(lines[3].find("Mesa"), std::string::npos) << lines[3];
  EXPECT_NE(lines[4].find(" GL_ARB_"), std::string::npos) << lines[4];
  EXPECT_EQ(lines[4].back(), ' ');
}

// Catches output that depends on where it goes: a pipe gets the same bytes
// as a file, in the same order.
TEST_F(QuarnBinary, WritesTheSameBytesThroughAPipe) {
  const Finished toFile = run({QUARN_BINARY});
  const Finished toPipe = run({QUARN_BINARY}, StdoutTo::Pipe);
  expect_complete_report(toPipe);
  EXPECT_EQ(toPipe.out, toFile.out);
}

// Catches a crash or a null title when started with no arguments at all.
TEST_F(QuarnBinary, CompletesWithAnEmptyArgumentVector) {
  expect_complete_report(run({}));
}

// Catches options that reach quarn instead of the toolkit: each is taken by
// freeglut, and the run is as plain as one without it.
TEST_F(QuarnBinary, LeavesToolkitOptionsToTheToolkit) {
  const std::vector<std::vector<std::string>> commandLines = {
      {"quarn", "-sync"},
      {"quarn", "-gldebug"},
      {"quarn", "-iconic", "-direct"},
      {"quarn", "-geometry", "100x100+5+5"},
  };
  for (const auto& argv : commandLines) {
    SCOPED_TRACE(argv[1]);
    expect_complete_report(run(argv));
  }
  // -display reaches the server even when the environment names none.
  expect_complete_report(run_program(
      QUARN_BINARY, {"quarn", "-display", display_}, "", StdoutTo::File));
}

// Catches a lost report ending with status 0: output that cannot be written
// ends with one line on standard error naming the reason, and status 1.
TEST_F(QuarnBinary, ReportsAWriteErrorWithStatusOne) {
  const Finished full = run({"quarn"}, StdoutTo::DevFull);
  EXPECT_EQ(full.status, 1);
  EXPECT_EQ(full.err, "quarn: write error: No space left on device\n");

  const Finished closed = run({"quarn"}, StdoutTo::Closed);
  EXPECT_EQ(closed.status, 1);
  EXPECT_EQ(closed.err, "quarn: write error: Bad file descriptor\n");
}

// Catches quarn adding to, or hiding, the toolkit's own failure when there
// is no display: freeglut's message and status, and the banner still first.
TEST(QuarnWithoutDisplay, LeavesTheToolkitsMessageAndStatus) {
  const Finished run = run_program(QUARN_BINARY, {"quarn"}, "", StdoutTo::File);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, kBannerLine);
  EXPECT_NE(run.err.find("failed to open display"), std::string::npos)
      << run.err;
  EXPECT_EQ(run.err.find("quarn: write error"), std::string::npos) << run.err;
  // Started with no arguments, quarn still gives the toolkit its name.
  const Finished unnamed = run_program(QUARN_BINARY, {}, "", StdoutTo::File);
  EXPECT_NE(unnamed.err.find("freeglut (quarn): "), std::string::npos)
      << unnamed.err;
}

// Catches a quarn-egl report that differs from quarn's in any byte, for
// either of Mesa's software renderers, or that does not say which variable
// chose software.
TEST_F(QuarnBinary, EglReportEqualsTheWindowsOnBothSoftwareRenderers) {
  for (const char* driver : {"llvmpipe", "softpipe"}) {
    SCOPED_TRACE(driver);
    setenv("GALLIUM_DRIVER", driver, 1);
    const Finished window = run({"quarn"});
    const Finished egl =
        run_program(QUARN_EGL_BINARY, {"quarn-egl"}, "", StdoutTo::File);
    unsetenv("GALLIUM_DRIVER");
    EXPECT_EQ(egl.status, 0);
    EXPECT_EQ(egl.err, std::string("quarn-egl: the report comes from "
                                   "software: GALLIUM_DRIVER=") +
                           driver + " is set\n");
    EXPECT_EQ(egl.out, window.out);
    EXPECT_NE(egl.out.find(driver), std::string::npos);
  }
}

// Catches a quarn-egl that crashes, ends with status 0 or does not say so
// where there is no EGL vendor to serve it, or whose report is lost on a
// full disk, or said to have been served there.
TEST(QuarnEglFailures, SaysWhyWithStatusOne) {
  setenv("__EGL_VENDOR_LIBRARY_FILENAMES", "/nonexistent.json", 1);
  const Finished none =
      run_program(QUARN_EGL_BINARY, {"quarn-egl"}, "", StdoutTo::File);
  unsetenv("__EGL_VENDOR_LIBRARY_FILENAMES");
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.out, kBannerLine);
  EXPECT_EQ(none.err,
            "quarn-egl: cannot get an EGL display on surfaceless: "
            "EGL_BAD_PARAMETER (libEGL finds no EGL driver: it loads those "
            "that __EGL_VENDOR_LIBRARY_FILENAMES=/nonexistent.json names)\n");

  for (const char* sayDevice : {"", "--say-device"}) {
    std::vector<std::string> argv{"quarn-egl"};
    if (*sayDevice != '\0') argv.emplace_back(sayDevice);
    const Finished full =
        run_program(QUARN_EGL_BINARY, argv, "", StdoutTo::DevFull);
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.err, "quarn-egl: write error: No space left on device\n")
        << sayDevice;
  }
}

// quarn-egl on devices that fail as real drivers' do: a test EGL vendor,
// loaded by glvnd ahead of Mesa's, lists them before Mesa's software device.
struct FailingDevices {
  const char* devices;  // as the test vendor reads them
  std::vector<std::string> arguments;
  int status;
  std::string out;  // "report": the banner and four lines
  std::string err;
};

Finished run_on_failing_devices(const FailingDevices& row) {
  setenv("__EGL_VENDOR_LIBRARY_FILENAMES", QUARN_TEST_EGL_VENDORS, 1);
  setenv("QUARN_TEST_EGL_DEVICES", row.devices, 1);
  std::vector<std::string> argv{"quarn-egl"};
  argv.insert(argv.end(), row.arguments.begin(), row.arguments.end());
  Finished run = run_program(QUARN_EGL_BINARY, argv, "", StdoutTo::File);
  unsetenv("QUARN_TEST_EGL_DEVICES");
  unsetenv("__EGL_VENDOR_LIBRARY_FILENAMES");
  return run;
}

// Catches what only glvnd's own dispatch shows: a run that stops at a
// failing GPU though software would serve, a device's strings or error
// (EGL_BAD_DEVICE_EXT, set through glvnd) lost on the way, NVIDIA's device
// ranked below software, two entries of one node under one name, or a
// --device that falls back. Each step's own failure is the scripted layer's.
TEST(QuarnEglDevices, SkipsEachFailingDeviceAndNamesIt) {
  const auto absent = [](const std::string& node) {
    return " (cannot open " + node + ": No such file or directory)\n";
  };
  const std::string first = "/nonexistent/renderD128";
  const std::string software =
      "quarn-egl: served by software (Mesa's software renderer; egl 1)\n";
  const FailingDevices rows[] = {
      {"node=/nonexistent/renderD128,fail=initialize",
       {"--say-device"},
       0,
       "report",
       "quarn-egl: cannot initialize EGL on " + first +
           ": EGL_NOT_INITIALIZED" + absent(first) + software},
      {"cuda=0,fail=config",
       {"--list-devices"},
       0,
       "cuda:0\tGPU: quarn test vendor, test GPU; egl 0; cuda 0\n"
       "software\tsoftware: Mesa's software renderer; egl 1\n",
       ""},
      {"node=/nonexistent/renderD128,fail=display;"
       "node=/nonexistent/renderD128,fail=initialize",
       {"--list-devices"},
       0,
       first + "\tGPU; egl 0\n" + first +
           "#2\tGPU; egl 1\nsoftware\tsoftware: Mesa's software renderer; "
           "egl 2\n",
       ""},
      {"node=/nonexistent/renderD128,fail=display;"
       "node=/nonexistent/renderD128,fail=initialize",
       {"--device=/nonexistent/renderD128#2"},
       1,
       kBannerLine,
       "quarn-egl: cannot initialize EGL on " + first +
           "#2: EGL_NOT_INITIALIZED" + absent(first)},
      {"node=/nonexistent/renderD128,fail=display",
       {},
       0,
       "report",
       "quarn-egl: cannot get an EGL display on " + first +
           ": EGL_BAD_DEVICE_EXT" + absent(first)},
  };
  for (const FailingDevices& row : rows) {
    SCOPED_TRACE(row.devices);
    const Finished run = run_on_failing_devices(row);
    EXPECT_EQ(run.status, row.status);
    EXPECT_EQ(run.err, row.err);
    if (row.out == "report") {
      EXPECT_EQ(lines_of(run.out).size(), 5u) << run.out;
      EXPECT_NE(run.out.find("llvmpipe"), std::string::npos) << run.out;
    } else {
      EXPECT_EQ(run.out.substr(0, row.out.size()), row.out);
    }
  }
}

// Catches a run command that changes a report on a live display, gives two
// banners where a server without GLX gives no context, or needs a display:
// quarn-run as scripts/run starts it, beside the built quarn and quarn-egl.
TEST_F(QuarnBinary, RunCommandReportsOnTheDisplayElseThroughEgl) {
  const std::vector<std::string> argv{QUARN_RUN_BINARY};
  const Finished live =
      run_program(QUARN_RUN_BINARY, argv, display_, StdoutTo::File);
  expect_complete_report(live);
  EXPECT_EQ(live.out, run({"quarn"}).out);

  const std::string served =
      "quarn-egl: served by software (Mesa's software renderer; egl 0)\n";
  const std::string ownAuth = std::getenv("XAUTHORITY");
  const std::string noGlx = test_display(QUARN_XVFB_NO_GLX_DIR);
  const Finished noContext =
      run_program(QUARN_RUN_BINARY, argv, noGlx, StdoutTo::File);
  setenv("XAUTHORITY", ownAuth.c_str(), 1);
  EXPECT_EQ(noContext.status, 0);
  EXPECT_EQ(lines_of(noContext.out).size(), 5u) << noContext.out;
  EXPECT_EQ(noContext.out.rfind(kBannerLine), 0u) << "two banners";
  EXPECT_EQ(noContext.err,
            "quarn: the display at DISPLAY=" + noGlx +
                " gives no OpenGL context (freeglut (" QUARN_BINARY
                "): OpenGL GLX extension not supported by display '" +
                noGlx + "'); reporting through EGL, without a window\n" +
                served);

  const Finished none = run_program(QUARN_RUN_BINARY, argv, "", StdoutTo::File);
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(lines_of(none.out).size(), 5u) << none.out;
  EXPECT_EQ(none.err,
            "quarn: DISPLAY is not set; reporting through EGL, without a "
            "window\n" +
                served);
}

// Two NVIDIA GPUs whose CUDA order is not EGL's, the first with a render
// node, both with UUIDs, through glvnd's dispatch (eglQueryDeviceBinaryEXT
// included), and failing where the rows say.
const char* const kTwoGpus =
    "node=/nonexistent/renderD128,cuda=1,"
    "uuid=0123456789ABCDEF0011223344556677,fail=initialize;"
    "cuda=0,uuid=fedcba98765432100011223344556677,fail=current";

// Catches an identity lost on its way through glvnd (EGL's place, the CUDA
// index, the UUID), a --device form that picks another device than the
// one that --list-devices shows with it, a --gpu that falls back to
// software, or one whose failures go unnamed.
TEST(QuarnEglDevices, NamesEachGpuByItsIdentities) {
  const std::string first = "/nonexistent/renderD128";
  EXPECT_EQ(
      run_on_failing_devices({kTwoGpus, {"--list-devices"}, 0, "", ""}).out,
      first +
          "\tGPU: quarn test vendor, test GPU; egl 0; cuda 1; uuid "
          "01234567-89ab-cdef-0011-223344556677\n"
          "cuda:0\tGPU: quarn test vendor, test GPU; egl 1; cuda 0; "
          "uuid fedcba98-7654-3210-0011-223344556677\n"
          "software\tsoftware: Mesa's software renderer; egl 2\n"
          "surfaceless\tMesa's surfaceless platform\n");
  const std::string second =
      "quarn-egl: cannot make the context current on cuda:0: "
      "EGL_BAD_ACCESS\n";
  for (const char* form :
       {"--device=cuda:0", "--device=egl:1", "--device=CUDA:0",
        "--device=uuid:GPU-FEDCBA98-7654-3210-0011-223344556677",
        "--device=uuid:fedcba98-7654-3210-0011-223344556677"}) {
    const Finished run = run_on_failing_devices({kTwoGpus, {form}, 0, "", ""});
    EXPECT_EQ(run.status, 1) << form;
    EXPECT_EQ(run.err, second) << form;
  }
  const Finished byNode =
      run_on_failing_devices({kTwoGpus, {"--device=cuda:1"}, 0, "", ""});
  EXPECT_EQ(byNode.err.rfind("quarn-egl: cannot initialize EGL on " + first, 0),
            0u)
      << byNode.err;
  const Finished gpu = run_on_failing_devices({kTwoGpus, {"--gpu"}, 0, "", ""});
  EXPECT_EQ(gpu.status, 1);
  EXPECT_EQ(gpu.out, kBannerLine);
  EXPECT_EQ(gpu.err, "quarn-egl: cannot initialize EGL on " + first +
                         ": EGL_NOT_INITIALIZED (cannot open " + first +
                         ": No such file or directory)\n" + second);
}

// Catches a private server that any local user may connect to: a client
// without its cookie is turned away.
TEST_F(QuarnBinary, PrivateServerTurnsAwayClientsWithoutItsCookie) {
  const std::string cookie = std::getenv("XAUTHORITY");
  setenv("XAUTHORITY", "/dev/null", 1);
  const Finished stranger = run({"quarn"});
  setenv("XAUTHORITY", cookie.c_str(), 1);
  EXPECT_EQ(stranger.status, 1);
  EXPECT_NE(stranger.err.find("failed to open display"), std::string::npos)
      << stranger.err;
}

}  // namespace
