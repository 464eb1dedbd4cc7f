// The one list of cases that every deliverable runs through the stand-in
// JNIEnv, whichever loader brings the library into the process.
#ifndef NATIVEFLUSH_CASES_H
#define NATIVEFLUSH_CASES_H

#include <jni.h>

typedef jboolean(JNICALL* ForceDirectories)(JNIEnv*, jobject, jobjectArray);

// What a case needs from the platform under the loader; a loader declares
// which of these hold, and cases needing more are skipped.
enum CaseNeeds {
  NEEDS_NOTHING = 0,
  NEEDS_PROC_FLUSH_FAILURE = 1,  // fsync on a /proc directory fails
  // A path of 64 KiB or more is refused. Wine 8's CreateFileA instead keeps
  // only its length modulo 65536, and opens whatever that prefix names.
  NEEDS_LONG_PATH_REFUSED = 2,
};

// Runs every case against `force` on fixtures under `root` (directories a, b
// and c and a regular file named file; the current directory is root).
// Expected lines end in `newline`, as the target's stdio writes "\n".
// Reports each case on stderr; returns the number of failed cases.
int run_cases(ForceDirectories force, const char* root, const char* newline, unsigned supported);

// One call of the native method and what it must give.
struct Case {
  const char* name;
  bool null_array;
  int count;             // what GetArrayLength answers
  const char* paths[4];  // see expand() in cases.cpp; nullptr is a null element
  int unavailable;       // index whose characters the VM cannot supply, or -1
  jboolean result;
  const char* output;    // see expand() in cases.cpp; each line ends in "\n"
  int last_fetched;      // highest element index the method may fetch, or -1
  unsigned needs;
};

#define NOT_FOUND(path) "Movrek Error [Native Module] Directory " path " does not exist.\n"
#define FLUSH_FAILED(path) "Movrek Error [Native Module] Directory flush failed for " path ".\n"

// Runs a loader's own cases, on fixtures it has made, with the same checks.
int run_case_list(const Case* cases, int count, ForceDirectories force, const char* root, const char* newline,
                  unsigned supported);

// Runs the cases of the list with the given names, in that order.
int run_cases_named(const char* const* names, int count, ForceDirectories force, const char* root,
                    const char* newline);

// For many threads at once: makes `calls` calls on the calling thread, each
// third one failing at /proc, and checks each result and the JNI calls it
// made; what is printed is left to check_repeated_line. Returns the number of
// calls that went wrong.
int call_repeatedly(ForceDirectories force, const char* root, int calls);

// Checks that stdout between two counts of captured_output_bytes() is `line`
// (newline translated as in the cases) exactly `count` times, each whole.
bool check_repeated_line(long start, long end, const char* line, const char* newline, int count);

// Sends stdout to a file so that the library's output can be read back.
// Returns false if that is not possible.
bool capture_stdout(const char* path);

// Every loader's command line is LIBRARY FIXTURE_ROOT CAPTURE_FILE. Checks it
// and captures stdout in CAPTURE_FILE; returns false after saying what failed.
bool begin_harness(int argc, char** argv);

#endif
