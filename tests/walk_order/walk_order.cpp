// Links the native method against recording directory operations and checks
// the order of open, flush, message, close and release for one element on
// each of its three paths: success, flush failure and open failure.
#include <stdio.h>
#include <string.h>

#include "cases.h"
#include "directory_ops.h"
#include "stand_in_env.h"

extern "C" jboolean JNICALL NATIVEFLUSH_JNI_NAME(JNIEnv*, jobject, jobjectArray);

namespace {

const DirectoryHandle OPENED = 7;
char sequence[256];
long output_seen;
bool wrong_handle;

void step(const char* what) {
  // Anything printed since the last step is the message, and it came first.
  const long output = captured_output_bytes();
  if (output != output_seen) {
    strcat(sequence, "message ");
    output_seen = output;
  }
  strcat(sequence, what);
  strcat(sequence, " ");
}

void observe(const Event& event) {
  if (event.kind == EVENT_RELEASE) step("release");
}

}  // namespace

// The recording directory operations: "missing" cannot be opened and
// "unflushable" cannot be flushed.
static const char* opened_path;

bool open_directory(const char* path, DirectoryHandle* handle) {
  step("open");
  opened_path = path;
  if (strcmp(path, "missing") == 0) return false;
  *handle = OPENED;
  return true;
}

bool flush_directory(DirectoryHandle handle) {
  step("flush");
  wrong_handle |= handle != OPENED;
  return strcmp(opened_path, "unflushable") != 0;
}

void close_directory(DirectoryHandle handle) {
  step("close");
  wrong_handle |= handle != OPENED;
}

int main(int argc, char** argv) {
  if (argc != 2 || !capture_stdout(argv[1])) {
    fprintf(stderr, "usage: %s CAPTURE_FILE\n", argv[0]);
    return 2;
  }
  struct Walk {
    const char* path;
    jboolean result;
    const char* sequence;
  } walks[] = {
      {"present", JNI_TRUE, "open flush close release "},
      {"unflushable", JNI_FALSE, "open flush message close release "},
      {"missing", JNI_FALSE, "open message release "},
  };
  stand_in_observer = observe;
  int failed = 0;
  for (const Walk& walk : walks) {
    sequence[0] = '\0';
    wrong_handle = false;
    output_seen = captured_output_bytes();
    const char* paths[] = {walk.path};
    stand_in_begin(paths, 1, -1);
    const jboolean result = NATIVEFLUSH_JNI_NAME(stand_in_env(), nullptr, stand_in_array());
    const bool ok = result == walk.result && strcmp(sequence, walk.sequence) == 0 && !wrong_handle;
    fprintf(stderr, "%s  %s: \"%s\" result %d%s\n", ok ? "ok  " : "FAIL", walk.path, sequence, result,
            wrong_handle ? ", flushed or closed a handle that open did not give" : "");
    if (!ok) fprintf(stderr, "      expected \"%s\" result %d\n", walk.sequence, walk.result);
    failed += !ok;
  }
  fprintf(stderr, "%d passed, %d failed\n", 3 - failed, failed);
  return failed == 0 ? 0 : 1;
}
