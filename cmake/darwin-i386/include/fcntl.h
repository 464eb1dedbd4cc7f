// Darwin declarations of open(2), as the system headers give them. On i386
// the UNIX03-conforming open is a separate libSystem symbol; the system
// headers route every call to it with an asm label, and so do we. The 64-bit
// architectures have only the one open, under its plain name.
#ifndef NATIVEFLUSH_DARWIN_FCNTL_H
#define NATIVEFLUSH_DARWIN_FCNTL_H

#define O_RDONLY 0x0000

#ifdef __cplusplus
extern "C" {
#endif
#ifdef __i386__
int open(const char* path, int flags, ...) __asm("_open$UNIX2003");
#else
int open(const char* path, int flags, ...);
#endif
#ifdef __cplusplus
}
#endif

#endif
