// Directory operations for Windows: CreateFileA, FlushFileBuffers, CloseHandle.
//
// Only each call's own failure value is tested; GetLastError is never read.
// FlushFileBuffers needs a handle with write access, and only
// FILE_FLAG_BACKUP_SEMANTICS lets CreateFile open a directory at all. Full
// sharing keeps the open from failing while another process has the
// directory open. The path goes to the ANSI call as the bytes it is, with no
// conversion to UTF-16.
#include "directory_ops.h"

#include <windows.h>

bool open_directory(const char* path, DirectoryHandle* handle) {
  *handle = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  return *handle != INVALID_HANDLE_VALUE;
}

bool flush_directory(DirectoryHandle handle) {
  return FlushFileBuffers(handle) != 0;
}

void close_directory(DirectoryHandle handle) {
  CloseHandle(handle);
}
