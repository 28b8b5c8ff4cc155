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
  void SetUp() override { scripted::reset_with_report_strings(); }
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
