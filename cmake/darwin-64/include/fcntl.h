// macOS 64-bit declarations of open(2). Unlike i386, both 64-bit
// architectures have only the one, UNIX03-conforming open, under its plain name.
#ifndef NATIVEFLUSH_DARWIN_FCNTL_H
#define NATIVEFLUSH_DARWIN_FCNTL_H

#define O_RDONLY 0x0000

#ifdef __cplusplus
extern "C" {
#endif
int open(const char* path, int flags, ...);
#ifdef __cplusplus
}
#endif

#endif
