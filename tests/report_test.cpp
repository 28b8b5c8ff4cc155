// The environment report against the scripted GL double: what it asks,
// and the exact bytes it writes for ordinary, empty and missing strings.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "captured_stream.h"
#include "quarn.h"
#include "scripted_gl.h"

namespace {

struct ReportCase {
  const char* name;
  const char* vendor;
  const char* renderer;
  const char* version;
  const char* extensions;
  const char* expected;
};

void PrintTo(const ReportCase& c, std::ostream* os) {
  *os << c.name;
}

class ReportTest : public ::testing::TestWithParam<ReportCase> {
 protected:
  void SetUp() override {
    scripted::reset();
    const ReportCase& c = GetParam();
    scripted::script().strings = {{GL_VENDOR, c.vendor},
                                  {GL_RENDERER, c.renderer},
                                  {GL_VERSION, c.version},
                                  {GL_EXTENSIONS, c.extensions}};
    scripted::script().integers[GL_CONTEXT_PROFILE_MASK] =
        GL_CONTEXT_COMPATIBILITY_PROFILE_BIT;
  }
};

// Catches strings trimmed, reordered or mislabelled, an empty string that
// loses its line, and a null string that crashes or drops a line.
TEST_P(ReportTest, PrintsFourLinesAsTheImplementationGivesThem) {
  CapturedStdout out;
  display_gl_env();
  EXPECT_EQ(out.text(), GetParam().expected);
}

const ReportCase kReportCases[] = {
    {"Ordinary", "Mesa", "llvmpipe (LLVM 15.0.6, 256 bits)",
     "4.5 (Compatibility Profile) Mesa 22.3.6", " GL_A  GL_B\tx ",
     "OpenGL Vendor: Mesa\n"
     "OpenGL Renderer: llvmpipe (LLVM 15.0.6, 256 bits)\n"
     "OpenGL Version: 4.5 (Compatibility Profile) Mesa 22.3.6\n"
     "OpenGL Extensions:  GL_A  GL_B\tx \n"},
    {"Empty", "", "", "", "",
     "OpenGL Vendor: \nOpenGL Renderer: \nOpenGL Version: \n"
     "OpenGL Extensions: \n"},
    {"Null", nullptr, nullptr, nullptr, nullptr,
     "OpenGL Vendor: (null)\nOpenGL Renderer: (null)\n"
     "OpenGL Version: (null)\nOpenGL Extensions: (null)\n"},
    {"PercentSigns", "100%s", "%n%n", "%d", "%",
     "OpenGL Vendor: 100%s\nOpenGL Renderer: %n%n\nOpenGL Version: %d\n"
     "OpenGL Extensions: %\n"},
};

INSTANTIATE_TEST_SUITE_P(Strings, ReportTest, ::testing::ValuesIn(kReportCases),
                         [](const auto& tested) { return tested.param.name; });

// Catches a report that fetches lazily or caches: each call asks all four
// names afresh, before it prints, and init is exactly the same report.
TEST(ReportCalls, EveryCallQueriesAfreshAndInitIsTheSameReport) {
  scripted::reset();
  scripted::script().strings = {{GL_VENDOR, "V"}, {GL_EXTENSIONS, "E"}};
  CapturedStdout out;
  display_gl_env();
  const std::string once = out.text();
  init();
  EXPECT_EQ(out.text(), once + once);
  const std::vector<std::string> block = {
      "glGetString(0x1F00)", "glGetString(0x1F01)", "glGetString(0x1F02)",
      "glGetString(0x1F03)"};
  std::vector<std::string> twice = block;
  twice.insert(twice.end(), block.begin(), block.end());
  EXPECT_EQ(scripted::calls(), twice);
}

}  // namespace
