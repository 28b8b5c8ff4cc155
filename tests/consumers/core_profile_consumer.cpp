// Asks the installed quarn about a 3.3 core context that freeglut made: the
// extension query must find a name the context lists by index, and leave
// no GL error. Prints "found clean" and exits 0 when both hold.
#include <GL/freeglut.h>
#include <quarn.h>

#include <cstdio>

int main(int argc, char** argv) {
  glutInit(&argc, argv);
  glutInitContextVersion(3, 3);
  glutInitContextProfile(GLUT_CORE_PROFILE);
  glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE);
  glutCreateWindow("core_profile_consumer");
  const bool found = query_gl_extension("GL_KHR_debug") == GL_TRUE;
  const bool clean = glGetError() == GL_NO_ERROR;
  std::printf("%s %s\n", found ? "found" : "missing",
              clean ? "clean" : "error");
  return found && clean ? 0 : 1;
}
