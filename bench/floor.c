/* The floor of the benchmark: the three system calls that flushing a
 * directory takes, in a bare loop, with nothing around them.
 *
 *   floor ROOT COUNT
 *
 * The directories are ROOT/d00000 .. ROOT/d<COUNT-1>, named as the Java side
 * names them. Each line "N CALLS" on stdin asks for CALLS calls over the
 * first N directories; each call is timed on its own, as the Java side times
 * its calls, and the sum in nanoseconds comes back as one line. The process
 * stays up between requests, so it is as warm as the JVM it is compared with.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "bare_loop.h"

/* Five digits: the names stay the same length, as on the Java side. */
enum { MAX_COUNT = 100000 };

static long long now_ns(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s ROOT COUNT\n", argv[0]);
    return 2;
  }
  const int count = atoi(argv[2]);
  if (count < 1 || count > MAX_COUNT) {
    fprintf(stderr, "floor: COUNT is '%s'; expected 1..%d directories\n", argv[2], MAX_COUNT);
    return 2;
  }
  /* All names in one block, packed as tightly as Java's strings. */
  const size_t stride = strlen(argv[1]) + sizeof "/d00000";
  char* names = malloc((size_t)count * stride);
  if (names == NULL) {
    fprintf(stderr, "floor: no memory for %d names\n", count);
    return 2;
  }
  for (int i = 0; i < count; ++i) snprintf(names + (size_t)i * stride, stride, "%s/d%05d", argv[1], i);

  int n, calls;
  while (scanf("%d %d", &n, &calls) == 2) {
    if (n < 1 || n > count || calls < 1) {
      fprintf(stderr, "floor: asked for %d calls over %d directories; expected 1..%d directories\n", calls, n, count);
      return 2;
    }
    long long total = 0;
    for (int c = 0; c < calls; ++c) {
      const long long start = now_ns();
      const int done = flush_bare(names, stride, n);
      total += now_ns() - start;
      if (done != n) {
        fprintf(stderr, "floor: cannot open and flush %s\n", names + (size_t)done * stride);
        return 1;
      }
    }
    printf("%lld\n", total);
    fflush(stdout);
  }
  return 0;
}
