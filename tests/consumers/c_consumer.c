/* A C program of someone else's, built against quarn with every warning an
 * error. With no context current, the operations must still answer: no
 * list, so no extension, and no error. It has an init() of its own, a
 * common name, which must take the place of quarn's. */
#include <quarn.h>
#include <stdio.h>

void init(void) {
  puts("the program's own init");
}

int main(void) {
  printf("%d %d %d %d\n", g_iWindowWidthCurrent, g_iWindowHeightCurrent,
         g_bWindowFullScreen ? 1 : 0, query_gl_extension("GL_KHR_debug"));
  display_gl_error();
  init();
  return 0;
}
