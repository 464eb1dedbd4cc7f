// Directory operations for Linux and Mac OS X: open(2), fsync(2), close(2).
//
// Only the -1 failure value is tested; errno is never read. open() gets
// O_RDONLY and nothing else: a directory cannot be opened for writing, and
// the library neither insists on a directory nor refuses symbolic links.
#include "directory_ops.h"

#include <fcntl.h>
#include <unistd.h>

bool open_directory(const char* path, DirectoryHandle* handle) {
  *handle = open(path, O_RDONLY);
  return *handle != -1;
}

bool flush_directory(DirectoryHandle handle) {
  return fsync(handle) != -1;
}

void close_directory(DirectoryHandle handle) {
  close(handle);
}
