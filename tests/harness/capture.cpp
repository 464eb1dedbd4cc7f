// Captures stdout in a file. The library writes through the same stdio
// stream as the harness, so flushing it here shows exactly what the library
// has printed so far, as the target's stdio wrote it.
#include <stdio.h>
#include <string.h>

#include "cases.h"
#include "stand_in_env.h"

namespace {
char capture_path[4096];
}

bool capture_stdout(const char* path) {
  if (strlen(path) >= sizeof capture_path) return false;
  strcpy(capture_path, path);
  return freopen(path, "w", stdout) != nullptr;
}

bool begin_harness(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: %s LIBRARY FIXTURE_ROOT CAPTURE_FILE\n", argv[0]);
    return false;
  }
  if (!capture_stdout(argv[3])) {
    fprintf(stderr, "%s: cannot capture stdout\n", argv[3]);
    return false;
  }
  return true;
}

long captured_output_bytes() {
  fflush(stdout);
  return ftell(stdout);
}

bool read_captured(long from, long to, char* out) {
  FILE* f = fopen(capture_path, "rb");
  if (f == nullptr) return false;
  const size_t size = static_cast<size_t>(to - from);
  const bool ok = fseek(f, from, SEEK_SET) == 0 && fread(out, 1, size, f) == size;
  fclose(f);
  out[size] = '\0';
  return ok;
}
