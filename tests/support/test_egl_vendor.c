/* An EGL vendor library for libglvnd whose devices fail as real drivers'
 * do, for quarn-egl's tests on the real stack. glvnd loads it ahead of
 * Mesa's when __EGL_VENDOR_LIBRARY_FILENAMES names its file first, and
 * merges its devices before Mesa's, as it does NVIDIA's. The devices come
 * from QUARN_TEST_EGL_DEVICES: entries split by ';', each of fields split
 * by ',':
 *   node=PATH   a DRM render node (EGL_EXT_device_drm_render_node)
 *   cuda=N      NVIDIA's EGL_NV_device_cuda, with EGL_CUDA_DEVICE_NV N
 *   uuid=HEX    EGL_EXT_device_persistent_id's device UUID, 32 hex digits
 *   fail=STEP   display, initialize, config (none matches), context or
 *               current: where the device fails, as every device here does
 * such as "node=/dev/dri/renderD128,fail=initialize;cuda=0,fail=context".
 * eglQueryDeviceBinaryEXT, which glvnd does not know, is dispatched by a
 * stub of this vendor's to the vendor of the device it is asked of. */
#include <glvnd/libeglabi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum step {
  STEP_DISPLAY,
  STEP_INITIALIZE,
  STEP_CONFIG,
  STEP_CONTEXT,
  STEP_CURRENT
};

struct device {
  char node[256];
  int cuda; /* -1: not NVIDIA's */
  unsigned char uuid[16];
  int hasUuid;
  char extensions[256];
  enum step failing;
};

static struct device devices[8];
static int device_count;
static EGLint last_error = EGL_SUCCESS;
static const __EGLapiExports* glvnd;

static void read_devices(void) {
  const char* text = getenv("QUARN_TEST_EGL_DEVICES");
  static const char* const steps[] = {"display", "initialize", "config",
                                      "context", "current"};
  char copy[2048];
  char* entry_end = NULL;
  strncpy(copy, text != NULL ? text : "", sizeof copy - 1);
  copy[sizeof copy - 1] = '\0';
  for (char* entry = strtok_r(copy, ";", &entry_end);
       entry != NULL && device_count < 8;
       entry = strtok_r(NULL, ";", &entry_end)) {
    struct device* device = &devices[device_count++];
    char* field_end = NULL;
    device->cuda = -1;
    device->failing = STEP_CONTEXT;
    for (char* field = strtok_r(entry, ",", &field_end); field != NULL;
         field = strtok_r(NULL, ",", &field_end)) {
      if (strncmp(field, "node=", 5) == 0) {
        strncpy(device->node, field + 5, sizeof device->node - 1);
      } else if (strncmp(field, "cuda=", 5) == 0) {
        device->cuda = atoi(field + 5);
      } else if (strncmp(field, "uuid=", 5) == 0 && strlen(field) == 37) {
        device->hasUuid = 1;
        for (int i = 0; i < 16; ++i) {
          char pair[3] = {field[5 + 2 * i], field[6 + 2 * i], '\0'};
          device->uuid[i] = (unsigned char)strtoul(pair, NULL, 16);
        }
      } else if (strncmp(field, "fail=", 5) == 0) {
        for (int i = 0; i < 5; ++i) {
          if (strcmp(field + 5, steps[i]) == 0) device->failing = (enum step)i;
        }
      }
    }
  }
}

/* A device's display is the device itself: one display per device. */
static struct device* device_of(const void* handle) {
  for (int i = 0; i < device_count; ++i) {
    if (handle == &devices[i]) return &devices[i];
  }
  return NULL;
}

static EGLBoolean fails(EGLint error) {
  last_error = error;
  return EGL_FALSE;
}

static EGLBoolean passes(void) {
  last_error = EGL_SUCCESS;
  return EGL_TRUE;
}

static int fails_at(EGLDisplay display, enum step step) {
  const struct device* device = device_of(display);
  return device == NULL || device->failing == step;
}

static EGLDisplay get_platform_display(EGLenum platform, void* native,
                                       const EGLAttrib* attributes) {
  (void)attributes;
  if (platform != EGL_PLATFORM_DEVICE_EXT || device_of(native) == NULL) {
    passes();
    return EGL_NO_DISPLAY;
  }
  if (fails_at(native, STEP_DISPLAY)) {
    glvnd->setEGLError(EGL_BAD_DEVICE_EXT);
    return EGL_NO_DISPLAY;
  }
  return native;
}

static EGLBoolean initialize(EGLDisplay display, EGLint* major, EGLint* minor) {
  if (fails_at(display, STEP_INITIALIZE)) return fails(EGL_NOT_INITIALIZED);
  if (major != NULL) *major = 1;
  if (minor != NULL) *minor = 5;
  return passes();
}

static EGLBoolean terminate(EGLDisplay display) {
  (void)display;
  return passes();
}

static const char* query_string(EGLDisplay display, EGLint name) {
  if (display == EGL_NO_DISPLAY) {
    return name == EGL_EXTENSIONS
               ? "EGL_EXT_device_base EGL_EXT_device_enumeration "
                 "EGL_EXT_device_query EGL_EXT_platform_device"
               : NULL;
  }
  switch (name) {
    case EGL_EXTENSIONS:
      return "EGL_KHR_surfaceless_context";
    case EGL_VENDOR:
      return "quarn test vendor";
    case EGL_VERSION:
      return "1.5 quarn test vendor";
    default:
      return NULL;
  }
}

static EGLBoolean choose_config(EGLDisplay display, const EGLint* wanted,
                                EGLConfig* configs, EGLint size,
                                EGLint* count) {
  (void)wanted;
  *count = !fails_at(display, STEP_CONFIG) && size > 0 ? 1 : 0;
  if (*count > 0) configs[0] = display;
  return passes();
}

static EGLContext create_context(EGLDisplay display, EGLConfig config,
                                 EGLContext share, const EGLint* attributes) {
  (void)config, (void)share, (void)attributes;
  if (fails_at(display, STEP_CONTEXT)) {
    fails(EGL_BAD_MATCH);
    return EGL_NO_CONTEXT;
  }
  passes();
  return display;
}

static EGLBoolean make_current(EGLDisplay display, EGLSurface draw,
                               EGLSurface read, EGLContext context) {
  (void)draw, (void)read;
  if (context == EGL_NO_CONTEXT) return passes();
  return fails_at(display, STEP_CURRENT) ? fails(EGL_BAD_ACCESS) : passes();
}

static EGLint get_error(void) {
  const EGLint error = last_error;
  last_error = EGL_SUCCESS;
  return error;
}

static EGLBoolean release_thread(void) {
  return passes();
}

/* What glvnd requires of a vendor but nothing here calls. */
static EGLBoolean unsupported(void) {
  return fails(EGL_BAD_ACCESS);
}

static EGLBoolean query_devices(EGLint max, EGLDeviceEXT* found,
                                EGLint* count) {
  *count =
      found == NULL ? device_count : (max < device_count ? max : device_count);
  for (int i = 0; found != NULL && i < *count; ++i) found[i] = &devices[i];
  return passes();
}

static const char* query_device_string(EGLDeviceEXT handle, EGLint name) {
  struct device* device = device_of(handle);
  if (device == NULL) return NULL;
  switch (name) {
    case EGL_EXTENSIONS:
      snprintf(device->extensions, sizeof device->extensions, "%s%s%s",
               device->cuda >= 0
                   ? "EGL_NV_device_cuda EGL_EXT_device_query_name "
                   : "",
               device->node[0] != '\0'
                   ? "EGL_EXT_device_drm EGL_EXT_device_drm_render_node "
                   : "",
               device->hasUuid ? "EGL_EXT_device_persistent_id" : "");
      return device->extensions;
    case EGL_DRM_RENDER_NODE_FILE_EXT:
      return device->node[0] != '\0' ? device->node : NULL;
    case EGL_VENDOR:
      return device->cuda >= 0 ? "quarn test vendor" : NULL;
    case EGL_RENDERER_EXT:
      return device->cuda >= 0 ? "test GPU" : NULL;
    default:
      return NULL;
  }
}

static EGLBoolean query_device_attrib(EGLDeviceEXT handle, EGLint name,
                                      EGLAttrib* value) {
  const struct device* device = device_of(handle);
  if (device == NULL || device->cuda < 0 || name != EGL_CUDA_DEVICE_NV) {
    return fails(EGL_BAD_ATTRIBUTE);
  }
  *value = device->cuda;
  return passes();
}

static EGLBoolean query_device_binary(EGLDeviceEXT handle, EGLint name,
                                      EGLint max, void* value, EGLint* size) {
  const struct device* device = device_of(handle);
  if (device == NULL || !device->hasUuid || name != EGL_DEVICE_UUID_EXT) {
    return fails(EGL_BAD_ATTRIBUTE);
  }
  *size = 16;
  if (value != NULL) memcpy(value, device->uuid, max < 16 ? (size_t)max : 16);
  return passes();
}

/* glvnd's slot for eglQueryDeviceBinaryEXT, and the stub that takes a call
 * to the vendor of the device it is asked of. */
static int binary_index = -1;

typedef EGLBoolean (*query_binary_function)(EGLDeviceEXT, EGLint, EGLint, void*,
                                            EGLint*);

static EGLBoolean dispatch_query_device_binary(EGLDeviceEXT handle, EGLint name,
                                               EGLint max, void* value,
                                               EGLint* size) {
  __EGLvendorInfo* vendor = glvnd->getVendorFromDevice(handle);
  const query_binary_function query =
      vendor != NULL && binary_index >= 0
          ? (query_binary_function)glvnd->fetchDispatchEntry(vendor,
                                                             binary_index)
          : NULL;
  if (query == NULL) {
    glvnd->setEGLError(EGL_BAD_DEVICE_EXT);
    return EGL_FALSE;
  }
  return query(handle, name, max, value, size);
}

static void* get_proc_address(const char* name) {
  static const struct {
    const char* name;
    void* function;
  } functions[] = {
      {"eglInitialize", (void*)initialize},
      {"eglTerminate", (void*)terminate},
      {"eglQueryString", (void*)query_string},
      {"eglChooseConfig", (void*)choose_config},
      {"eglCreateContext", (void*)create_context},
      {"eglMakeCurrent", (void*)make_current},
      {"eglGetError", (void*)get_error},
      {"eglReleaseThread", (void*)release_thread},
      {"eglQueryDevicesEXT", (void*)query_devices},
      {"eglQueryDeviceStringEXT", (void*)query_device_string},
      {"eglQueryDeviceAttribEXT", (void*)query_device_attrib},
      {"eglQueryDeviceBinaryEXT", (void*)query_device_binary},
  };
  static const char* const required[] = {
      "eglCopyBuffers",         "eglCreatePbufferSurface",
      "eglCreatePixmapSurface", "eglCreateWindowSurface",
      "eglDestroyContext",      "eglDestroySurface",
      "eglGetConfigAttrib",     "eglGetConfigs",
      "eglQueryContext",        "eglQuerySurface",
      "eglSwapBuffers",         "eglWaitGL",
      "eglWaitNative",          "eglBindTexImage",
      "eglReleaseTexImage",     "eglSurfaceAttrib",
      "eglSwapInterval",        "eglCreatePbufferFromClientBuffer",
      "eglWaitClient"};
  for (size_t i = 0; i < sizeof functions / sizeof functions[0]; ++i) {
    if (strcmp(name, functions[i].name) == 0) return functions[i].function;
  }
  for (size_t i = 0; i < sizeof required / sizeof required[0]; ++i) {
    if (strcmp(name, required[i]) == 0) return (void*)unsupported;
  }
  return NULL;
}

static EGLBoolean supports_api(EGLenum api) {
  return api == EGL_OPENGL_API || api == EGL_OPENGL_ES_API;
}

static void* get_dispatch_address(const char* name) {
  return strcmp(name, "eglQueryDeviceBinaryEXT") == 0
             ? (void*)dispatch_query_device_binary
             : NULL;
}

static void set_dispatch_index(const char* name, int index) {
  if (strcmp(name, "eglQueryDeviceBinaryEXT") == 0) binary_index = index;
}

__attribute__((visibility("default"))) EGLBoolean __egl_Main(
    uint32_t version, const __EGLapiExports* exports, __EGLvendorInfo* vendor,
    __EGLapiImports* imports) {
  (void)vendor;
  if (EGL_VENDOR_ABI_GET_MAJOR_VERSION(version) !=
      EGL_VENDOR_ABI_MAJOR_VERSION) {
    return EGL_FALSE;
  }
  glvnd = exports;
  read_devices();
  imports->getPlatformDisplay = get_platform_display;
  imports->getSupportsAPI = supports_api;
  imports->getProcAddress = get_proc_address;
  imports->getDispatchAddress = get_dispatch_address;
  imports->setDispatchIndex = set_dispatch_index;
  return EGL_TRUE;
}
