/* A plugin that links libquarn.a, and the host that loads it: a program
 * built with -rdynamic (CMake's ENABLE_EXPORTS) that has an init() of its
 * own. Built with -Wl,--exclude-libs,ALL, the plugin keeps quarn's
 * functions to itself, so that its call to init() reaches quarn's report,
 * not the host's init. Build the plugin with -DPLUGIN, the host without. */
#ifdef PLUGIN
#include <quarn.h>

void plugin_entry(void) {
  init();
}
#else
#include <dlfcn.h>
#include <stdio.h>

void init(void) {
  puts("the host's init");
}

int main(int argc, char** argv) {
  void* plugin = argc > 1 ? dlopen(argv[1], RTLD_NOW) : NULL;
  void (*entry)(void) = NULL;
  if (plugin != NULL) *(void**)&entry = dlsym(plugin, "plugin_entry");
  if (entry == NULL) {
    fprintf(stderr, "cannot load the plugin: %s\n", dlerror());
    return 1;
  }
  entry();
  return 0;
}
#endif
