// Harness for the ELF deliverables: loads the library with dlopen, finds the
// export by its exact name and runs the case list.
//   harness LIBRARY FIXTURE_ROOT CAPTURE_FILE
#include <dlfcn.h>
#include <stdio.h>

#include "cases.h"
#include "descriptors.h"

int main(int argc, char** argv) {
  if (!begin_harness(argc, argv)) return 2;
  void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    fprintf(stderr, "%s: cannot load: %s\n", argv[1], dlerror());
    return 2;
  }
  void* symbol = dlsym(library, NATIVEFLUSH_EXPORT);
  if (symbol == nullptr) {
    fprintf(stderr, "%s: no export named %s\n", argv[1], NATIVEFLUSH_EXPORT);
    return 2;
  }
  ForceDirectories force = reinterpret_cast<ForceDirectories>(symbol);
  return run_cases_counting_descriptors(force, argv[2]) == 0 ? 0 : 1;
}
