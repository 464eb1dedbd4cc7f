// The directory operations that the native method needs from the platform.
// Each platform family (posix/, windows/) implements all three, and the build
// compiles exactly one family into a deliverable.
//
// Contract for implementations:
// - Print nothing and keep no state: every call stands alone, on any thread.
// - A handle that open_directory gives is closed exactly once, by
//   close_directory, whatever flush_directory answered.
#ifndef NATIVEFLUSH_DIRECTORY_OPS_H
#define NATIVEFLUSH_DIRECTORY_OPS_H

// DirectoryHandle: the family's own type for an open directory.
#include "directory_handle.h"

// Opens path (NUL-terminated bytes, passed to the platform unconverted).
// On success stores the open handle in *handle and returns true; on any
// failure returns false and there is nothing to close.
bool open_directory(const char* path, DirectoryHandle* handle);

// Asks the platform to write the directory's pending changes to the storage
// device. Returns false if the platform reports failure.
bool flush_directory(DirectoryHandle handle);

// Releases the handle. A failure to close is not reported.
void close_directory(DirectoryHandle handle);

#endif
