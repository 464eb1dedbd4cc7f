// On POSIX systems an open directory is a file descriptor.
#ifndef NATIVEFLUSH_DIRECTORY_HANDLE_H
#define NATIVEFLUSH_DIRECTORY_HANDLE_H

typedef int DirectoryHandle;

#endif
