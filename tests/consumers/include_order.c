/* Built as C and as C++ with quarn.h before (QUARN_FIRST=1) or after a GL
 * loader's header (LOADER): loaders refuse to come after GL/gl.h, so quarn.h
 * must not include it. */
#if QUARN_FIRST
#include <quarn.h>
#endif
#include LOADER
#if !QUARN_FIRST
#include <quarn.h>
#endif

int main(void) {
  GLboolean found = query_gl_extension("GL_KHR_debug");
  return found == GL_TRUE ? 0 : 1;
}
