// Each borrow hands out a fresh heap copy of the path and each release
// scrambles and frees it, so a path used after it was handed back prints
// garbage, and AddressSanitizer reports it. The state of a call belongs to the
// calling thread, so that several threads can call at once, each with its own
// log, as each JVM thread has its own JNIEnv.
#include "stand_in_env.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const int MAX_ELEMENTS = 16;
const int MAX_EVENTS = 4 * MAX_ELEMENTS + 1;

struct Element { int index; };  // its address is the element reference

thread_local const char* const* call_paths;
thread_local int call_count;
thread_local int call_unavailable;
thread_local Element elements[MAX_ELEMENTS];
char array_token;
thread_local char* borrowed[MAX_ELEMENTS];
thread_local Event events[MAX_EVENTS];
thread_local int event_count;
thread_local const char* violation;

void record(EventKind kind, int index, const char* chars) {
  if (event_count == MAX_EVENTS) {
    violation = "more JNI calls than the array can explain";
    return;
  }
  events[event_count] = Event{kind, index, chars, captured_output_bytes()};
  if (stand_in_observer != nullptr) stand_in_observer(events[event_count]);
  ++event_count;
}

int element_index(jobject element) {
  for (int i = 0; i < call_count; ++i)
    if (element == reinterpret_cast<jobject>(&elements[i])) return i;
  return -1;
}

jsize JNICALL get_array_length(JNIEnv*, jarray array) {
  if (array != stand_in_array()) violation = "GetArrayLength on an unknown array";
  record(EVENT_ARRAY_LENGTH, -1, nullptr);
  return call_count;
}

jobject JNICALL get_object_array_element(JNIEnv*, jobjectArray array, jsize index) {
  record(EVENT_ELEMENT, index, nullptr);
  if (array != stand_in_array()) violation = "GetObjectArrayElement on an unknown array";
  if (index < 0 || index >= call_count) {
    violation = "GetObjectArrayElement index out of range";
    return nullptr;
  }
  if (call_paths[index] == nullptr) return nullptr;
  return reinterpret_cast<jobject>(&elements[index]);
}

const char* JNICALL get_string_utf_chars(JNIEnv*, jstring string, jboolean* is_copy) {
  const int index = element_index(string);
  if (index < 0) {
    violation = "GetStringUTFChars on an unknown element";
    return nullptr;
  }
  if (is_copy != nullptr) violation = "GetStringUTFChars asked for the copy flag";
  if (borrowed[index] != nullptr) violation = "element borrowed twice";
  char* chars = nullptr;
  if (index != call_unavailable) {
    const size_t size = strlen(call_paths[index]) + 1;
    chars = static_cast<char*>(malloc(size));
    if (chars == nullptr) abort();
    memcpy(chars, call_paths[index], size);
    borrowed[index] = chars;
  }
  record(EVENT_CHARS, index, chars);
  return chars;
}

void JNICALL release_string_utf_chars(JNIEnv*, jstring string, const char* chars) {
  const int index = element_index(string);
  record(EVENT_RELEASE, index, chars);
  if (index < 0 || chars == nullptr || borrowed[index] != chars) {
    violation = "ReleaseStringUTFChars of characters that were not borrowed for that element";
    return;
  }
  memset(borrowed[index], '#', strlen(borrowed[index]));
  free(borrowed[index]);
  borrowed[index] = nullptr;
}

void JNICALL unexpected_jni_call() {
  fprintf(stderr, "stand-in JNIEnv: the native method called a JNI function it must not use\n");
  abort();
}

JNINativeInterface_ make_table() {
  // The table is nothing but pointers: fill every slot with the trap first.
  JNINativeInterface_ table;
  void** slots = reinterpret_cast<void**>(&table);
  for (size_t i = 0; i < sizeof table / sizeof(void*); ++i)
    slots[i] = reinterpret_cast<void*>(&unexpected_jni_call);
  table.GetArrayLength = get_array_length;
  table.GetObjectArrayElement = get_object_array_element;
  table.GetStringUTFChars = get_string_utf_chars;
  table.ReleaseStringUTFChars = release_string_utf_chars;
  return table;
}

const JNINativeInterface_ table = make_table();
const JNINativeInterface_* const table_pointer = &table;

}  // namespace

void (*stand_in_observer)(const Event& event);

void stand_in_begin(const char* const* paths, int count, int unavailable) {
  if (count > MAX_ELEMENTS) abort();
  call_paths = paths;
  call_count = count;
  call_unavailable = unavailable;
  event_count = 0;
  violation = nullptr;
  for (int i = 0; i < MAX_ELEMENTS; ++i) {
    elements[i].index = i;
    borrowed[i] = nullptr;
  }
}

JNIEnv* stand_in_env() {
  // JNIEnv is a pointer to the table pointer; the table itself is never written.
  return reinterpret_cast<JNIEnv*>(const_cast<const JNINativeInterface_**>(&table_pointer));
}

jobjectArray stand_in_array() { return reinterpret_cast<jobjectArray>(&array_token); }
int stand_in_event_count() { return event_count; }
const Event* stand_in_events() { return events; }
const char* stand_in_violation() { return violation; }

int stand_in_outstanding() {
  int n = 0;
  for (int i = 0; i < MAX_ELEMENTS; ++i) n += borrowed[i] != nullptr;
  return n;
}
