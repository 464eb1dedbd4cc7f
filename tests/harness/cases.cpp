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
  // A length below zero (no JVM gives one) must not start the walk: the
  // index is signed, and an unsigned comparison would fetch element 0.
  {"negative length", false, -1, {}, -1, JNI_TRUE, "", -1, NEEDS_NOTHING},
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
  {"newline in path", false, 1, {"{root}/line\nbreak"}, -1, JNI_FALSE, NOT_FOUND("{root}/line\nbreak"), 0,
   NEEDS_NOTHING},
  {"dangling symlink", false, 2, {"{root}/dangling", "{root}/a"}, -1, JNI_FALSE, NOT_FOUND("{root}/dangling"), 0,
   NEEDS_NOTHING},
  {"64 KiB path", false, 1, {"{root}/{x*65536}"}, -1, JNI_FALSE, NOT_FOUND("{root}/{x*65536}"), 0,
   NEEDS_LONG_PATH_REFUSED},
  {"1 MiB path", false, 1, {"{root}/{x*1048576}"}, -1, JNI_FALSE, NOT_FOUND("{root}/{x*1048576}"), 0,
   NEEDS_LONG_PATH_REFUSED},
  {"flush fails", false, 3, {"{root}/a", "/proc", "{root}/c"}, -1, JNI_FALSE, FLUSH_FAILED("/proc"), 1,
   NEEDS_PROC_FLUSH_FAILURE},
  {"null array", true, 0, {}, -1, JNI_FALSE, "", -1, NEEDS_NOTHING},
  {"null element first", false, 3, {nullptr, "{root}/b", "{root}/c"}, -1, JNI_FALSE, "", 0, NEEDS_NOTHING},
  {"null element in the middle", false, 3, {"{root}/a", nullptr, "{root}/c"}, -1, JNI_FALSE, "", 1, NEEDS_NOTHING},
  {"null element last", false, 3, {"{root}/a", "{root}/b", nullptr}, -1, JNI_FALSE, "", 2, NEEDS_NOTHING},
  {"characters unavailable", false, 3, {"{root}/a", "{root}/b", "{root}/c"}, 1, JNI_FALSE, "", 1, NEEDS_NOTHING},
};

// Writes the expansion of a case's text to out (if not null) and returns its
// length: "{root}" becomes the fixture root, "{x*N}" becomes N letters x, and,
// when newline is not null, each "\n" becomes newline (what the target's stdio
// writes for it).
size_t expand_into(const char* text, const char* root, const char* newline, char* out) {
  size_t n = 0;
  auto put = [&](const char* piece, size_t size) {
    if (out != nullptr) memcpy(out + n, piece, size);
    n += size;
  };
  for (const char* p = text; *p != '\0';) {
    if (strncmp(p, "{root}", 6) == 0) {
      put(root, strlen(root));
      p += 6;
    } else if (strncmp(p, "{x*", 3) == 0) {
      char* end = nullptr;
      const unsigned long count = strtoul(p + 3, &end, 10);
      for (unsigned long i = 0; i < count; ++i) put("x", 1);
      p = end + 1;
    } else if (*p == '\n' && newline != nullptr) {
      put(newline, strlen(newline));
      ++p;
    } else {
      put(p++, 1);
    }
  }
  return n;
}

// The expansion as a new heap string.
char* expand(const char* text, const char* root, const char* newline) {
  const size_t size = expand_into(text, root, newline, nullptr);
  char* out = static_cast<char*>(malloc(size + 1));
  if (out == nullptr) abort();
  expand_into(text, root, newline, out);
  out[size] = '\0';
  return out;
}

// Returns a description of the first thing wrong with the recorded calls.
// output_start and output_end bound what this call printed, or are -1 when
// other threads print at the same time.
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
        // (Not knowable when other threads print too: output_end is then -1.)
        if (output_end < 0) break;
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
  fprintf(stderr, "    %s (%zu bytes) \"", label, size);
  for (size_t i = 0; i < size && i < 400; ++i) {
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
  char* paths[4] = {};
  for (int i = 0; i < c.count; ++i)
    if (c.paths[i] != nullptr) paths[i] = expand(c.paths[i], root, nullptr);
  char* expected = expand(c.output, root, newline);

  stand_in_begin(paths, c.count, c.unavailable);
  const long start = captured_output_bytes();
  const jboolean result = force(stand_in_env(), nullptr, c.null_array ? nullptr : stand_in_array());
  const long end = captured_output_bytes();

  const char* problem = nullptr;
  char* output = nullptr;
  if (end < start) {
    problem = "stdout could not be measured";
  } else if ((output = static_cast<char*>(malloc(static_cast<size_t>(end - start) + 1))) == nullptr ||
             !read_captured(start, end, output)) {
    problem = "stdout could not be read back";
  } else if (result != c.result) {
    problem = c.result ? "returned false, expected true" : "returned true, expected false";
  } else if (static_cast<size_t>(end - start) != strlen(expected) || memcmp(output, expected, strlen(expected)) != 0) {
    print_escaped("expected", expected, strlen(expected));
    print_escaped("printed ", output, static_cast<size_t>(end - start));
    problem = "wrong bytes on stdout";
  } else {
    problem = check_calls(c, start, end);
  }
  free(output);
  free(expected);
  for (char* path : paths) free(path);
  return problem;
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

static const Case& case_named(const char* name) {
  for (const Case& c : CASES)
    if (strcmp(c.name, name) == 0) return c;
  abort();
}

int run_cases_named(const char* const* names, int count, ForceDirectories force, const char* root,
                    const char* newline) {
  Case named[sizeof CASES / sizeof CASES[0]];
  if (count > static_cast<int>(sizeof named / sizeof named[0])) abort();
  for (int i = 0; i < count; ++i) named[i] = case_named(names[i]);
  return run_case_list(named, count, force, root, newline, ~0u);
}

int call_repeatedly(ForceDirectories force, const char* root, int calls) {
  const Case& succeeds = case_named("three directories");
  const Case& fails = case_named("flush fails");
  char* paths[2][4] = {};
  for (int i = 0; i < 3; ++i) {
    paths[0][i] = expand(succeeds.paths[i], root, nullptr);
    paths[1][i] = expand(fails.paths[i], root, nullptr);
  }
  int wrong = 0;
  for (int call = 0; call < calls; ++call) {
    const bool failing = call % 3 == 2;
    const Case& c = failing ? fails : succeeds;
    stand_in_begin(paths[failing], c.count, c.unavailable);
    const jboolean result = force(stand_in_env(), nullptr, stand_in_array());
    const char* problem = result != c.result ? "wrong result" : check_calls(c, -1, -1);
    if (problem != nullptr) {
      if (wrong == 0) fprintf(stderr, "FAIL  call %d on a thread: %s\n", call, problem);
      ++wrong;
    }
  }
  for (auto& list : paths)
    for (char* path : list) free(path);
  return wrong;
}

bool check_repeated_line(long start, long end, const char* line, const char* newline, int count) {
  char* expected_line = expand(line, "", newline);
  const size_t line_size = strlen(expected_line);
  const size_t size = static_cast<size_t>(end - start);
  char* output = static_cast<char*>(malloc(size + 1));
  bool ok = output != nullptr && end >= start && read_captured(start, end, output) &&
            size == line_size * static_cast<size_t>(count);
  for (size_t at = 0; ok && at < size; at += line_size) ok = memcmp(output + at, expected_line, line_size) == 0;
  if (!ok) fprintf(stderr, "FAIL  expected %d whole lines \"%s\", got %zu bytes\n", count, line, size);
  free(output);
  free(expected_line);
  return ok;
}
