/* The loop that both floors of the benchmark run: open, fsync and close of
 * each directory, tested as the library tests them, with nothing else. */
#ifndef NATIVEFLUSH_BENCH_BARE_LOOP_H
#define NATIVEFLUSH_BENCH_BARE_LOOP_H

#include <fcntl.h>
#include <stddef.h>
#include <unistd.h>

/* names holds n NUL-terminated paths, one every `stride` bytes. Returns the
 * index of the first directory that could not be opened or flushed, or n. */
static inline int flush_bare(const char* names, size_t stride, int n) {
  for (int i = 0; i < n; ++i) {
    const int fd = open(names + (size_t)i * stride, O_RDONLY);
    if (fd == -1) return i;
    const int flushed = fsync(fd) != -1;
    close(fd);
    if (!flushed) return i;
  }
  return n;
}

#endif
