// A stand-in for the JVM's side of a call: a JNIEnv whose table holds only the
// four functions the native method may use (every other slot aborts), and a
// log of every call it receives, for the case runner to check.
#ifndef NATIVEFLUSH_STAND_IN_ENV_H
#define NATIVEFLUSH_STAND_IN_ENV_H

#include <jni.h>

enum EventKind { EVENT_ARRAY_LENGTH, EVENT_ELEMENT, EVENT_CHARS, EVENT_RELEASE };

struct Event {
  EventKind kind;
  int index;          // element index; -1 for EVENT_ARRAY_LENGTH
  const char* chars;  // the borrowed pointer, for EVENT_CHARS and EVENT_RELEASE
  long output_bytes;  // bytes the process had written to stdout at that moment
};

// Starts a call over `count` paths; a null entry is a null element. Characters
// of element `unavailable` (or none, if -1) are refused, as when the VM runs
// out of memory. Clears the log.
void stand_in_begin(const char* const* paths, int count, int unavailable);

JNIEnv* stand_in_env();
jobjectArray stand_in_array();

// The log of the current call, and the problems found while it ran (a wrong
// array or element, an index out of range, a release that was not borrowed).
int stand_in_event_count();
const Event* stand_in_events();
const char* stand_in_violation();  // nullptr when there was none

// Called with every event as it is recorded, if set.
extern void (*stand_in_observer)(const Event& event);

// Borrowed characters not yet handed back.
int stand_in_outstanding();

// Provided by the output capture: bytes written to stdout so far, and the
// bytes written between two such counts (out must hold to - from + 1 bytes).
long captured_output_bytes();
bool read_captured(long from, long to, char* out);

#endif
