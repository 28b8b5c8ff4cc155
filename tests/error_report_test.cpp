// The error reporter against the scripted GL and GLU doubles: one error
// read per call, and what reaches which stream.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "captured_stream.h"
#include "quarn.h"
#include "scripted_gl.h"

namespace {

// Calls display_gl_error once per expected line, with the errors pending
// and GLU's texts as given; checks each call's output on both streams.
void expect_lines(std::vector<GLenum> pending,
                  const std::vector<std::string>& linesPerCall) {
  scripted::reset();
  scripted::script().errors.assign(pending.begin(), pending.end());
  scripted::script().errorTexts = {{GL_INVALID_ENUM, "invalid enumerant"},
                                   {GL_OUT_OF_MEMORY, "out of memory"}};
  for (const std::string& line : linesPerCall) {
    CapturedStdout out;
    CapturedStderr err;
    display_gl_error();
    EXPECT_EQ(err.text(), line);
    EXPECT_EQ(out.text(), "");
  }
}

// Catches a report of an error that is not pending, or output for none.
TEST(ErrorReport, IsSilentWithNoErrorPendingAndReadsOnce) {
  expect_lines({}, {""});
  EXPECT_EQ(scripted::calls(), std::vector<std::string>{"glGetError()"});
}

// Catches a reporter that drains every pending error at once, or reports
// them out of order: one per call, first pending first.
TEST(ErrorReport, ReportsOnePendingErrorPerCall) {
  expect_lines({GL_OUT_OF_MEMORY, GL_INVALID_ENUM},
               {"OpenGL Error: out of memory\n",
                "OpenGL Error: invalid enumerant\n", ""});
  EXPECT_EQ(scripted::calls(),
            (std::vector<std::string>{"glGetError()", "gluErrorString(0x505)",
                                      "glGetError()", "gluErrorString(0x500)",
                                      "glGetError()"}));
}

// Catches a crash or a bare line for a code GLU has no text for.
TEST(ErrorReport, NamesACodeThatGluHasNoTextFor) {
  expect_lines({0x0507, 0xFFFFFFFF},
               {"OpenGL Error: unknown error 0x0507\n",
                "OpenGL Error: unknown error 0xFFFFFFFF\n"});
}

}  // namespace
