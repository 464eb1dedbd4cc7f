// Mac OS X declaration of printf, the only stdio function the library calls.
#ifndef NATIVEFLUSH_DARWIN_STDIO_H
#define NATIVEFLUSH_DARWIN_STDIO_H

#ifdef __cplusplus
extern "C" {
#endif
int printf(const char* format, ...);
#ifdef __cplusplus
}
#endif

#endif
