// On Windows an open directory is a Win32 HANDLE, and INVALID_HANDLE_VALUE
// means the open failed. HANDLE is void*; it is spelled out here so that the
// native method's translation unit does not have to include windows.h.
#ifndef NATIVEFLUSH_DIRECTORY_HANDLE_H
#define NATIVEFLUSH_DIRECTORY_HANDLE_H

typedef void* DirectoryHandle;

#endif
