// Mac OS X and macOS declarations of fsync(2) and close(2), for every Darwin
// deliverable. libSystem exports both under their plain names.
#ifndef NATIVEFLUSH_DARWIN_UNISTD_H
#define NATIVEFLUSH_DARWIN_UNISTD_H

#ifdef __cplusplus
extern "C" {
#endif
int fsync(int fd);
int close(int fd);
#ifdef __cplusplus
}
#endif

#endif
