// quarn's operations in a real context: freeglut, Mesa's software renderer
// and the private Xvfb server, as other GL code would call them.
#include <GL/glu.h>
#include <GL/glut.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <sstream>
#include <string>

#include "captured_stream.h"
#include "process.h"
#include "quarn.h"

namespace {

class RealContext : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string display = test_display(QUARN_XVFB_DIR);
    if (display.empty()) GTEST_SKIP() << "no private X server for this test";
    // The toolkit starts once a process, however many tests run in it.
    static bool started = false;
    if (started) return;
    started = true;
    setenv("DISPLAY", display.c_str(), 1);
    int argc = 1;
    char name[] = "real_gl_test";
    char* argv[] = {name, nullptr};
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE | GLUT_DEPTH);
    glutCreateWindow(name);
  }
};

std::set<std::string> advertised_names() {
  const auto* list = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
  std::set<std::string> names;
  std::istringstream words(list != nullptr ? list : "");
  for (std::string name; words >> name;) names.insert(name);
  return names;
}

// Catches names the query misses in a real driver's list, or heads and
// extensions of them that it wrongly takes for advertised names.
TEST_F(RealContext, FindsEveryAdvertisedNameAndNoNearMiss) {
  const std::set<std::string> names = advertised_names();
  ASSERT_GT(names.size(), 100u);
  for (const std::string& name : names) {
    EXPECT_EQ(query_gl_extension(name.c_str()), GL_TRUE) << name;
    const std::string shorter = name.substr(0, name.size() - 1);
    const std::string longer = name + "X";
    EXPECT_EQ(query_gl_extension(shorter.c_str()) == GL_TRUE,
              names.count(shorter) == 1)
        << shorter;
    EXPECT_EQ(query_gl_extension(longer.c_str()) == GL_TRUE,
              names.count(longer) == 1)
        << longer;
  }
  EXPECT_EQ(query_gl_extension(""), GL_FALSE);
}

// Catches a reporter that misses a real driver's error, words it other
// than GLU does, writes it to standard output, or reports it twice.
TEST_F(RealContext, ReportsAProvokedErrorOnceInGlusWords) {
  while (glGetError() != GL_NO_ERROR) {
  }
  glEnable(0xFFFF);  // no such capability: GL_INVALID_ENUM
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

}  // namespace
