/* A C program of someone else's, built against the installed quarn through
 * pkg-config with every warning an error. With no context current, the
 * operations must still answer: no list, so no extension, and no error. */
#include <quarn.h>
#include <stdio.h>

int main(void) {
  printf("%d %d %d %d\n", g_iWindowWidthCurrent, g_iWindowHeightCurrent,
         g_bWindowFullScreen ? 1 : 0, query_gl_extension("GL_KHR_debug"));
  display_gl_error();
  return 0;
}
