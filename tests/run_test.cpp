// The run command's launcher, quarn-run: its judgement as data, then the
// built launcher beside stand-ins for quarn and quarn-egl that report, fail
// as the toolkit fails, hang or crash, with its output where it cannot go.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "banner.h"
#include "build_check.h"
#include "process.h"
#include "run_verdict.h"
#include "temp_tree.h"

namespace {

using quarn_run::Ending;
using How = Ending::How;

// Catches a display taken as absent where the toolkit is told one, or as
// present where none is named.
TEST(RunVerdict, TriesTheDisplayOnlyWhereOneIsNamed) {
  const std::vector<std::string_view> none, named = {"-display", ":3"};
  EXPECT_EQ(quarn_run::why_no_display(none, nullptr), "DISPLAY is not set");
  EXPECT_EQ(quarn_run::why_no_display(none, ""), "DISPLAY is empty");
  EXPECT_EQ(quarn_run::why_no_display(none, ":0"), "");
  EXPECT_EQ(quarn_run::why_no_display(named, nullptr), "");
  EXPECT_EQ(quarn_run::display_label(named, ":0"), "-display :3");
  EXPECT_EQ(quarn_run::display_label({"-sync"}, ":0"), "DISPLAY=:0");
}

// Catches a toolkit failure that keeps a report of one banner alone, a
// failure of quarn's own taken for the display's, or a reason that drops
// the toolkit's or the server's own words.
TEST(RunVerdict, NamesWhyTheDisplayDidNotServe) {
  const std::string glut = "freeglut (/b/quarn): ";
  const struct {
    Ending ending;
    bool stands;
    std::string why;
  } rows[] = {
      {{How::Exited, 0, "a warning\n"}, true, ""},
      {{How::Signalled, SIGSEGV, ""}, true, ""},
      {{How::Exited, 1, "quarn: write error: Broken pipe\n"}, true, ""},
      {{How::Exited, 1, glut + "failed to open display ':9'\n"},
       false,
       "no X server answers at DISPLAY=:9, or it has no such screen (" + glut +
           "failed to open display ':9')"},
      {{How::Exited, 1,
        "Authorization required, but no authorization protocol "
        "specified\n\n" +
            glut + "failed to open display ':9'\n"},
       false,
       "the X server at DISPLAY=:9 turns this user away (Authorization "
       "required, but no authorization protocol specified)"},
      {{How::Exited, 1,
        glut + "OpenGL GLX extension not supported by display ':9'\n"},
       false,
       "the display at DISPLAY=:9 gives no OpenGL context (" + glut +
           "OpenGL GLX extension not supported by display ':9')"},
      {{How::TimedOut, 0, ""},
       false,
       "the display at DISPLAY=:9 gave no OpenGL context within 10 s"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.ending.err);
    const quarn_run::Verdict verdict =
        quarn_run::judge(row.ending, "DISPLAY=:9");
    EXPECT_EQ(verdict.reportStands, row.stands);
    EXPECT_EQ(verdict.why, row.why);
  }
}

// Catches a report from software on a machine with a GPU left without its
// likely cause, or a word said where the renderer is a GPU's or where the
// machine has none; and a local display taken for one forwarded over ssh.
TEST(RunVerdict, SaysWhySoftwareServedADisplayOnAMachineWithAGpu) {
  const std::string gpu = "; `quarn-egl` reports this machine's GPU\n";
  const std::string start =
      "quarn: the renderer is software though this machine has a GPU";
  const std::string noDri3 =
      "the X server offers no direct rendering (no DRI3, as on Xvfb, Xvnc "
      "and xrdp)";
  const struct {
    quarn_run::Served served;
    std::string note;
  } rows[] = {
      {{"AMD Radeon RX 7900 XTX (radeonsi, navi31)", true, true, true, {}}, ""},
      {{"llvmpipe (LLVM 15.0.6, 256 bits)", false, true, true, {}}, ""},
      {{"llvmpipe (LLVM 15.0.6, 256 bits)", true, false, true, {}},
       start + ", likely because " + noDri3 + gpu},
      {{"llvmpipe (LLVM 15.0.6, 256 bits)", true, true, true, {}},
       start + ", likely because the display is forwarded over ssh, and " +
           noDri3 + gpu},
      {{"softpipe", true, false, false, {"LIBGL_ALWAYS_SOFTWARE=1"}},
       start + ", likely because LIBGL_ALWAYS_SOFTWARE=1 forces software" +
           gpu},
      {{"Software Rasterizer (swrast)", true, false, false, {}}, start + gpu},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(quarn_run::software_note(row.served), row.note)
        << row.served.renderer;
  }
  for (const char* host : {"localhost:10.0", "build-box:0", "[::1]:12"}) {
    EXPECT_TRUE(quarn_run::names_a_host(host)) << host;
  }
  for (const char* local : {":0", ":0.1", "unix:0", "/tmp/launch-x/org:0"}) {
    EXPECT_FALSE(quarn_run::names_a_host(local)) << local;
  }
}

// Catches an edit of the checkout's that the build check cannot see, as a
// file of its watched only through its folder, or a package's file listed
// each on every run.
TEST(BuildCheck, WatchesPackagedFilesByTheirFoldersAndTheCheckoutsEach) {
  const std::string deps =
      "CMakeFiles/quarn.dir/src/quarn.cpp.o: #deps 4\n"
      "    /usr/include/GL/gl.h\n    /usr/include/GL/glu.h\n"
      "    /usr/src/q/src/quarn.h\n    ../../src/quarn.cpp\n";
  EXPECT_EQ(quarn_run::inputs_named("/usr/src/q/src/quarn.cpp\n", deps,
                                    "/usr/src/q/build/release", "/usr/src/q"),
            (std::vector<std::string>{"/usr/include/GL",
                                      "/usr/src/q/build/release/../../src/"
                                      "quarn.cpp",
                                      "/usr/src/q/src/quarn.cpp",
                                      "/usr/src/q/src/quarn.h"}));
  EXPECT_EQ(quarn_run::inputs_named("", "    /usr/include/GL/gl.h\n",
                                    "/usr/src/q/build/release", ""),
            std::vector<std::string>{"/usr/include/GL/gl.h"})
      << "with no checkout known";
}

// quarn-run, linked into a build folder of its own beside the stand-ins,
// as build/release holds it beside quarn and quarn-egl.
class Launcher : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(tree_.root().empty());
    root_ = tree_.root();
    folder_ = root_ + "/build/release";
    std::filesystem::create_directories(folder_);
    std::filesystem::create_directories(root_ + "/scripts");
    for (const char* name : {"quarn", "quarn-egl"}) {
      ASSERT_EQ(symlink(QUARN_STAND_IN, (folder_ + "/" + name).c_str()), 0);
    }
    ASSERT_EQ(symlink(QUARN_RUN, launcher().c_str()), 0);
    setenv("QUARN_STAND_IN_PID", pidFile().c_str(), 1);
  }
  void TearDown() override { unsetenv("QUARN_STAND_IN_PID"); }
  std::string launcher() const { return folder_ + "/quarn-run"; }
  std::string pidFile() const { return root_ + "/pid"; }

  Finished run(const char* how, std::vector<std::string> options = {},
               StdoutTo out = StdoutTo::File, StderrTo err = StderrTo::File) {
    setenv("QUARN_STAND_IN", how, 1);
    options.insert(options.begin(), launcher());
    return run_program(launcher(), options, ":9", out, err);
  }

  TempTree tree_;
  std::string root_;
  std::string folder_;
};

const std::string kEglReport =
    kBannerLine +
    "OpenGL Vendor: EGL\nOpenGL Renderer: --say-device\n"
    "OpenGL Version: 1.0\nOpenGL Extensions: GL_A \n";

// Catches a report changed on its way, options that do not reach quarn, or
// quarn's standard error held back.
TEST_F(Launcher, PassesOnAReportUnchanged) {
  const Finished finished = run("reports", {"-sync", "-gldebug"});
  EXPECT_EQ(finished.status, 0);
  EXPECT_EQ(finished.out, kBannerLine +
                              "OpenGL Vendor: stand-in\nOpenGL Renderer: "
                              "-sync -gldebug\nOpenGL Version: 1.0\n"
                              "OpenGL Extensions: GL_A \n");
  EXPECT_EQ(finished.err, "a warning of the driver's\n");
}

// Catches a fallback with two banners or none, without its line, or with
// options that the EGL report does not use left unmentioned.
TEST_F(Launcher, FallsBackToEglWithOneBannerAndSaysWhy) {
  const std::string glut = "(freeglut (" + folder_ + "/quarn): ";
  const struct {
    const char* how;
    std::string why;
  } rows[] = {
      {"cannot_open",
       "no X server answers at DISPLAY=:9, or it has no such "
       "screen " +
           glut + "failed to open display ':9')"},
      {"refused",
       "the X server at DISPLAY=:9 turns this user away "
       "(Authorization required, but no authorization protocol "
       "specified)"},
      {"no_context", "the display at DISPLAY=:9 gives no OpenGL context " +
                         glut +
                         "OpenGL GLX extension not supported by "
                         "display ':10')"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.how);
    const Finished finished = run(row.how, {"-sync"});
    EXPECT_EQ(finished.status, 0);
    EXPECT_EQ(finished.out, kEglReport);
    EXPECT_EQ(finished.err, "quarn: " + row.why +
                                "; reporting through EGL, without a window "
                                "(the toolkit options go unused)\n");
  }
  unlink(pidFile().c_str());
  setenv("QUARN_STAND_IN", "reports", 1);
  const Finished none =
      run_program(launcher(), {launcher()}, "", StdoutTo::File);
  EXPECT_EQ(none.out, kEglReport);
  EXPECT_EQ(none.err,
            "quarn: DISPLAY is not set; reporting through EGL, without a "
            "window\n");
  EXPECT_NE(access(pidFile().c_str(), F_OK), 0) << "quarn was started";
}

// Catches a display that never answers waited on for longer than ten
// seconds, or a quarn left running after it.
TEST_F(Launcher, KillsAQuarnThatHangsAfterTenSeconds) {
  const auto started = std::chrono::steady_clock::now();
  const Finished finished = run("hangs");
  const auto waited = std::chrono::steady_clock::now() - started;
  EXPECT_GE(waited, std::chrono::seconds(10));
  EXPECT_LT(waited, std::chrono::seconds(13));
  EXPECT_EQ(finished.out, kEglReport);
  EXPECT_EQ(finished.err,
            "quarn: the display at DISPLAY=:9 gave no OpenGL context within "
            "10 s; reporting through EGL, without a window\n");
  int pid = 0;
  std::ifstream(pidFile()) >> pid;
  ASSERT_GT(pid, 0);
  EXPECT_NE(kill(pid, 0), 0) << "quarn " << pid << " was left";
}

// Catches a crash of quarn's reported as success or hidden by a fallback,
// or a quarn that cannot be started passed over in silence.
TEST_F(Launcher, PassesOnAFailureOfQuarnsOwn) {
  const Finished finished = run("crashes");
  EXPECT_EQ(finished.status, 128 + SIGABRT);
  EXPECT_EQ(finished.out, kBannerLine);
  unlink((folder_ + "/quarn").c_str());
  const Finished missing = run("reports");
  EXPECT_EQ(missing.status, 127);
  EXPECT_EQ(missing.err, "quarn: cannot run " + folder_ +
                             "/quarn: No such file or directory\n");
}

// Catches a report lost without quarn's own write error and status 1, or a
// report lost, or failed, for a standard error that cannot be written.
TEST_F(Launcher, FailsOnlyWhereTheReportCannotBeWritten) {
  const Finished full = run("reports", {}, StdoutTo::DevFull);
  EXPECT_EQ(full.status, 1);
  EXPECT_EQ(full.err,
            "a warning of the driver's\n"
            "quarn: write error: No space left on device\n");
  const Finished closed = run("reports", {}, StdoutTo::Closed);
  EXPECT_EQ(closed.status, 1);
  EXPECT_EQ(closed.err,
            "a warning of the driver's\n"
            "quarn: write error: Bad file descriptor\n");
  for (const StderrTo err :
       {StderrTo::DevFull, StderrTo::Closed, StderrTo::GonePipe}) {
    for (const char* how : {"reports", "cannot_open"}) {
      SCOPED_TRACE(how);
      const Finished finished = run(how, {}, StdoutTo::File, err);
      EXPECT_EQ(finished.status, 0);
      EXPECT_EQ(std::count(finished.out.begin(), finished.out.end(), '\n'), 5);
    }
  }
}

// Sets the file's modification time `seconds` from now.
void set_mtime(const std::string& path, int seconds) {
  const timeval now{std::time(nullptr) + seconds, 0};
  const timeval times[] = {now, now};
  utimes(path.c_str(), times);
}

// Catches programs run though what they were built from changed since, a
// build asked for where nothing did, or a build left unrecorded once made.
TEST_F(Launcher, HandsABuildThatIsNotCurrentBackToTheRunCommand) {
  tree_.file("/scripts/run",
             "#!/bin/sh\necho \"scripts/run $QUARN_RUN_BUILD $*\"\n");
  chmod((root_ + "/scripts/run").c_str(), 0755);
  tree_.file("/build/release/build.ninja");
  tree_.file("/source.cpp");
  const std::string list = folder_ + "/quarn-inputs";
  const std::string rebuild = "scripts/run stale -sync\n";
  setenv("QUARN_RUN_BUILD", "check", 1);
  EXPECT_EQ(run("reports", {"-sync"}).out, rebuild) << "with no list";
  tree_.file("/build/release/quarn-inputs", root_ + "/source.cpp\n");
  set_mtime(list, 60);
  EXPECT_EQ(run("reports", {"-sync"}).status, 0);
  EXPECT_NE(run("reports", {"-sync"}).out, rebuild) << "with nothing changed";
  set_mtime(list, -60);
  EXPECT_EQ(run("reports", {"-sync"}).out, rebuild) << "with a change";
  tree_.file("/build/release/quarn-inputs",
             root_ + "/source.cpp\n" + root_ + "/gone.h\n");
  set_mtime(list, 60);
  EXPECT_EQ(run("reports", {"-sync"}).out, rebuild) << "with a file gone";

  // Right after a build, Ninja's records are listed: the files that exist.
  ASSERT_EQ(symlink(QUARN_STAND_IN, (root_ + "/ninja").c_str()), 0);
  tree_.file("/header.h");
  const std::string path = std::getenv("PATH");
  setenv("PATH", (root_ + ":" + path).c_str(), 1);
  setenv("QUARN_RUN_BUILD", "made", 1);
  const Finished built = run("reports");
  setenv("QUARN_RUN_BUILD", "check", 1);
  setenv("PATH", path.c_str(), 1);
  EXPECT_EQ(built.status, 0);
  std::ifstream listed(list);
  const std::string names(std::istreambuf_iterator<char>(listed), {});
  EXPECT_EQ(names,
            folder_ + "/../../header.h\n" + folder_ + "/../../source.cpp\n");
  EXPECT_NE(run("reports").out, rebuild);
  unsetenv("QUARN_RUN_BUILD");
  EXPECT_EQ(run("reports", {"-sync"}).status, 0) << "not scripts/run's";
}

}  // namespace
