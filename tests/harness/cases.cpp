// The cases, and the checks made on every call: the result, the exact bytes
// on stdout, and the JNI calls that the stand-in recorded.
#include "cases.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "stand_in_env.h"

namespace {

const Case CASES[] = {
  {"empty array", false, 0, {}, -1, JNI_TRUE, "", -1, NEEDS_NOTHING},
  {"three directories", false, 3, {"{root}/a", "{root}/b", "{root}/c"}, -1, JNI_TRUE, "", 2, NEEDS_NOTHING},
  {"same directory twice", false, 2, {"{root}/a", "{root}/a"}, -1, JNI_TRUE, "", 1, NEEDS_NOTHING},
  {"regular file", false, 1, {"{root}/file"}, -1, JNI_TRUE, "", 0, NEEDS_NOTHING},
  {"relative path", false, 2, {"b", "no-such-dir"}, -1, JNI_FALSE, NOT_FOUND("no-such-dir"), 1, NEEDS_NOTHING},
  {"missing in the middle", false, 3, {"{root}/a", "{root}/missing", "{root}/c"}, -1, JNI_FALSE,
   NOT_FOUND("{root}/missing"), 1, NEEDS_NOTHING},
  {"empty path", false, 2, {"", "{root}/a"}, -1, JNI_FALSE, NOT_FOUND(""), 0, NEEDS_NOTHING},
  {"format directives", false, 1, {"{root}/%s%n%p"}, -1, JNI_FALSE, NOT_FOUND("{root}/%s%n%p"), 0, NEEDS_NOTHING},
  {"non-ASCII path", false, 1, {"{root}/missing-\xc3\xa9"}, -1, JNI_FALSE, NOT_FOUND("{root}/missing-\xc3\xa9"), 0,
   NEEDS_NOTHING},
  {"flush fails", false, 3, {"{root}/a", "/proc", "{root}/c"}, -1, JNI_FALSE, FLUSH_FAILED("/proc"), 1,
   NEEDS_PROC_FLUSH_FAILURE},
  {"null array", true, 0, {}, -1, JNI_FALSE, "", -1, NEEDS_NOTHING},
  {"null element", false, 3, {"{root}/a", nullptr, "{root}/c"}, -1, JNI_FALSE, "", 1, NEEDS_NOTHING},
  {"characters unavailable", false, 3, {"{root}/a", "{root}/b", "{root}/c"}, 1, JNI_FALSE, "", 1, NEEDS_NOTHING},
};

const size_t TEXT_MAX = 4096;

// Replaces every "{root}" with root and, if newline is not "\n", every "\n"
// with newline.
void expand(const char* text, const char* root, const char* newline, char* out) {
  size_t n = 0;
  for (const char* p = text; *p != '\0';) {
    const char* piece = nullptr;
    if (strncmp(p, "{root}", 6) == 0) {
      piece = root;
      p += 6;
    } else if (*p == '\n') {
      piece = newline;
      p += 1;
    }
    if (piece != nullptr) {
      for (; *piece != '\0' && n + 1 < TEXT_MAX; ++piece) out[n++] = *piece;
    } else if (n + 1 < TEXT_MAX) {
      out[n++] = *p++;
    } else {
      ++p;
    }
  }
  out[n] = '\0';
}

// Returns a description of the first thing wrong with the recorded calls.
const char* check_calls(const Case& c, long output_start, long output_end) {
  if (stand_in_violation() != nullptr) return stand_in_violation();
  const Event* events = stand_in_events();
  const int count = stand_in_event_count();
  if (c.null_array) return count == 0 ? nullptr : "JNI called for a null array";
  if (count == 0 || events[0].kind != EVENT_ARRAY_LENGTH) return "GetArrayLength was not the first call";

  int next_element = 0;
  for (int i = 1; i < count; ++i) {
    const Event& e = events[i];
    switch (e.kind) {
      case EVENT_ARRAY_LENGTH:
        return "GetArrayLength called twice";
      case EVENT_ELEMENT:
        if (e.index != next_element) return "elements not fetched once each in array order";
        if (e.index > c.last_fetched) return "element fetched after the walk should have stopped";
        ++next_element;
        break;
      case EVENT_CHARS:
        if (e.index != next_element - 1) return "characters borrowed for an element other than the current one";
        break;
      case EVENT_RELEASE:
        if (e.index != next_element - 1) return "characters released for an element other than the current one";
        // A message about this path must already be out when it is handed back.
        if (e.index == c.last_fetched && e.output_bytes != output_end) return "path released before its message was printed";
        if (e.index < c.last_fetched && e.output_bytes != output_start) return "output printed for an element that succeeded";
        break;
    }
  }
  if (next_element - 1 != c.last_fetched) return "walk stopped at the wrong element";
  if (stand_in_outstanding() != 0) return "characters borrowed and never released";
  return nullptr;
}

// Shows bytes with escapes, so that a report makes CR, LF and NUL visible.
void print_escaped(const char* label, const char* bytes, size_t size) {
  fprintf(stderr, "    %s \"", label);
  for (size_t i = 0; i < size; ++i) {
    const unsigned char b = static_cast<unsigned char>(bytes[i]);
    if (b == '\n') fputs("\\n", stderr);
    else if (b == '\r') fputs("\\r", stderr);
    else if (b < 0x20 || b >= 0x7f) fprintf(stderr, "\\x%02x", b);
    else fputc(b, stderr);
  }
  fputs("\"\n", stderr);
}

// Runs one case; returns nullptr when it passed, or what went wrong.
const char* run_case(const Case& c, ForceDirectories force, const char* root, const char* newline) {
  char paths[4][TEXT_MAX];
  const char* call_paths[4];
  for (int i = 0; i < c.count; ++i) {
    if (c.paths[i] == nullptr) {
      call_paths[i] = nullptr;
    } else {
      expand(c.paths[i], root, newline, paths[i]);
      call_paths[i] = paths[i];
    }
  }
  char expected[TEXT_MAX];
  expand(c.output, root, newline, expected);

  stand_in_begin(call_paths, c.count, c.unavailable);
  const long start = captured_output_bytes();
  const jboolean result = force(stand_in_env(), nullptr, c.null_array ? nullptr : stand_in_array());
  const long end = captured_output_bytes();

  static char output[TEXT_MAX];
  const size_t size = static_cast<size_t>(end - start);
  if (end < start || size >= TEXT_MAX || !read_captured(start, end, output)) return "stdout could not be read back";
  if (result != c.result) return c.result ? "returned false, expected true" : "returned true, expected false";
  if (size != strlen(expected) || memcmp(output, expected, size) != 0) {
    print_escaped("expected", expected, strlen(expected));
    print_escaped("printed ", output, size);
    return "wrong bytes on stdout";
  }
  return check_calls(c, start, end);
}

}  // namespace

int run_cases(ForceDirectories force, const char* root, const char* newline, unsigned supported) {
  return run_case_list(CASES, sizeof CASES / sizeof CASES[0], force, root, newline, supported);
}

int run_case_list(const Case* cases, int count, ForceDirectories force, const char* root, const char* newline,
                  unsigned supported) {
  int failed = 0, passed = 0, skipped = 0;
  for (int i = 0; i < count; ++i) {
    const Case& c = cases[i];
    if ((c.needs & supported) != c.needs) {
      fprintf(stderr, "skip  %s (not available under this loader)\n", c.name);
      ++skipped;
      continue;
    }
    const char* problem = run_case(c, force, root, newline);
    if (problem == nullptr) {
      fprintf(stderr, "ok    %s\n", c.name);
      ++passed;
    } else {
      fprintf(stderr, "FAIL  %s: %s\n", c.name, problem);
      ++failed;
    }
  }
  fprintf(stderr, "%d passed, %d failed, %d skipped\n", passed, failed, skipped);
  return failed;
}
