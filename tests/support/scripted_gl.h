// Test doubles for the GL, GLU and GLUT calls that quarn makes. They are
// plain C functions with the libraries' own names, linked into the scripted
// tests in place of the real libraries: a test scripts what each call gives
// back and reads, in order, every call that was made.
#ifndef QUARN_SCRIPTED_GL_H
#define QUARN_SCRIPTED_GL_H

#include <EGL/egl.h>
#include <GL/gl.h>

#include <cstddef>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace scripted {

// What EGL offers quarn-egl: the platforms, the devices and the first call
// that fails.
struct EglScript {
  const char* clientExtensions =
      "EGL_EXT_platform_device EGL_MESA_platform_surfaceless";
  struct Device {
    const char* extensions;
    const char* renderNode;  // null: the device has none
    EGLint cudaIndex = 0;    // EGL_CUDA_DEVICE_NV, with EGL_NV_device_cuda
    // The call, by name, that fails on this device alone, with `error`.
    const char* failing = "";
    EGLint error = EGL_SUCCESS;
    bool esOnly = false;  // OpenGL ES, and no config for desktop OpenGL
    const char* vendor = nullptr;  // with EGL_EXT_device_query_name
    const char* renderer = nullptr;
    // Its context gives no GL_VERSION (glGetString's null) while current.
    bool noVersion = false;
    // 16 bytes of EGL_DEVICE_UUID_EXT, with EGL_EXT_device_persistent_id.
    const char* uuid = nullptr;
  };
  std::vector<Device> devices = {
      {"EGL_MESA_device_software EGL_EXT_device_drm_render_node", nullptr}};
  // What eglQueryDevicesEXT answers when asked how many devices there
  // are; -1 for as many as are listed.
  EGLint countedDevices = -1;
  const char* displayExtensions = "EGL_KHR_surfaceless_context";
  // The call, by name, that fails with `error`; "" for none.
  std::string failing;
  EGLint error = EGL_SUCCESS;
};

struct Script {
  // What glGetString answers for each name; a name not listed gives null.
  std::map<GLenum, const char*> strings;
  // What glGetIntegerv answers for each name; a name not listed gives 0,
  // but GL_NUM_EXTENSIONS gives the number of indexed entries.
  std::map<GLenum, GLint> integers;
  // What glGetStringi(GL_EXTENSIONS, i) answers: entry i, or null past them.
  std::vector<const char*> indexed;
  // Codes glGetError hands out, first to last; then GL_NO_ERROR.
  std::deque<GLenum> errors;
  // What gluErrorString answers; a code not listed gives null.
  std::map<GLenum, const char*> errorTexts;
  // Options glutInit takes out of the command line, each with the number of
  // values that follow it, as the toolkit does with -display NAME or -sync.
  std::map<std::string, int> toolkitOptions{{"-display", 1}, {"-sync", 0}};
  EglScript egl;
  // Off, calls are not recorded: for the benchmarks, which make millions.
  bool recordCalls = true;
};

// What was seen when glutInit was called.
struct AtToolkitStart {
  bool called = false;
  std::string stdoutWritten;  // what the caller had written to stdout so far
  std::size_t stdoutPending = 0;  // of which still in stdio's buffer, unflushed
  bool stdoutLineBuffered = false;
};

Script& script();
std::vector<std::string>& calls();
AtToolkitStart& atToolkitStart();

// Forgets the calls and sets an empty script.
void reset();

// reset(), then GL strings for a report: "V", "R", "1.0", "GL_A GL_B ".
void reset_with_report_strings();

}  // namespace scripted

#endif  // QUARN_SCRIPTED_GL_H
