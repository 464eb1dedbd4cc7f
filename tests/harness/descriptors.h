// For the harnesses that run on Linux: the case list, then a count of the
// process's open descriptors, which must not have grown. A close skipped on
// one of the library's paths leaves the result and the output right; only
// the count shows it.
#ifndef NATIVEFLUSH_DESCRIPTORS_H
#define NATIVEFLUSH_DESCRIPTORS_H

#include <dirent.h>
#include <stdio.h>

#include "cases.h"

inline int open_descriptors() {
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  int count = -1;  // the listing's own descriptor
  while (const dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
  closedir(dir);
  return count;
}

inline int run_cases_counting_descriptors(ForceDirectories force, const char* root) {
  const int before = open_descriptors();
  int failed = run_cases(force, root, "\n", NEEDS_PROC_FLUSH_FAILURE | NEEDS_LONG_PATH_REFUSED);
  const int after = open_descriptors();
  const bool ok = before >= 0 && after == before;
  fprintf(stderr, "%s  open descriptors: %d before the cases, %d after\n", ok ? "ok  " : "FAIL", before, after);
  return failed + !ok;
}

#endif
