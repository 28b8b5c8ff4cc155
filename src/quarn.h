/* quarn: report the OpenGL environment of the current context.
 *
 * Every operation below needs a GL context that is current on the calling
 * thread, of any kind: legacy, compatibility or core profile, forward
 * compatible, or OpenGL ES. None of them keeps state between calls: each
 * asks the GL implementation afresh, and none leaves a GL error behind.
 * None but display_gl_error, which exists to read one, takes away an error
 * that the caller's own code left pending.
 *
 * Usable from C and C++, before or after any GL header or loader (epoxy,
 * GLEW, glad): it includes none. With CMake, find_package(quarn CONFIG) and
 * link quarn::module; with pkg-config, `pkg-config --cflags --libs quarn`. */
#ifndef QUARN_H
#define QUARN_H

#ifndef __cplusplus
#include <stdbool.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Window-state globals. Nothing in quarn writes them; quarn's own main reads
 * the height once, for the window that it requests. */
extern int g_iWindowWidthCurrent;  /* 640 */
extern int g_iWindowHeightCurrent; /* 360 */
extern bool g_bWindowFullScreen;   /* false */

/* Prints four lines on standard output, "OpenGL Vendor: ", "OpenGL Renderer: ",
 * "OpenGL Version: " and "OpenGL Extensions: ", each followed by the string
 * the GL implementation gives, byte for byte. Where the context lists its
 * extensions only by index (core profiles, forward-compatible contexts), the
 * last line holds every entry, one blank between two. A string the
 * implementation does not give (a null pointer, as without a current
 * context) prints as "(null)". The stream is held for the whole report, so
 * the four lines come out whole even while other threads print. */
void display_gl_env(void);

/* The module's initialisation routine: exactly display_gl_env(). Nothing in
 * quarn calls it, and its definition gives way to one of the application's
 * own: a program that defines init() links with quarn, and its own runs.
 * quarn's is void init(void), and the name is part of quarn's API: an init
 * of another signature (int init(void), bool init()) clashes with it. */
void init(void);

/* GL_TRUE (1) when the current context advertises the extension named
 * exactly extName, else GL_FALSE (0). The result is a GLboolean, which GL
 * defines as unsigned char. The match is byte for byte and case-sensitive, so
 * neither a longer advertised name that begins with extName nor a shorter
 * one that it begins with counts. In a blank-separated list, only the blank
 * separates names, and the empty name is found only where the list holds an
 * empty entry (a blank at its start, or two in a row). A null extName, or no
 * list at all (no current context), gives GL_FALSE. */
unsigned char query_gl_extension(const char* extName);

/* Reads one pending GL error, if there is one, and prints it on standard
 * error as "OpenGL Error: " and GLU's text for it. No pending error prints
 * nothing. A code GLU has no text for prints as "unknown error 0x" and the
 * code in hexadecimal. Further pending errors stay for later calls. */
void display_gl_error(void);

#ifdef __cplusplus
}
#endif

#endif /* QUARN_H */
