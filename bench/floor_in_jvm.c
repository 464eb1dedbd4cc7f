/* Way (d) of the benchmark: the floor's bare loop, run inside the JVM.
 *
 * Set beside (c), it shows what running in the JVM's process costs the same
 * three system calls; set beside (a), what the library and the JNI calls it
 * makes for each element add. The paths are copied out of the JVM once, by
 * prepare, so that each timed call does nothing but the loop.
 */
#include <jni.h>
#include <stdlib.h>
#include <string.h>

#include "bare_loop.h"

static char* names;
static size_t stride;
static int count;

/* Copies all paths, which must be of one length, into one block. */
JNIEXPORT jboolean JNICALL Java_FloorInJvm_prepare(JNIEnv* env, jclass cls, jobjectArray paths) {
  (void)cls;
  count = (*env)->GetArrayLength(env, paths);
  if (count < 1) return JNI_FALSE;
  jstring first = (jstring)(*env)->GetObjectArrayElement(env, paths, 0);
  stride = (size_t)(*env)->GetStringUTFLength(env, first) + 1;
  free(names);
  names = malloc((size_t)count * stride);
  if (names == NULL) return JNI_FALSE;
  for (jint i = 0; i < count; ++i) {
    jstring path = (jstring)(*env)->GetObjectArrayElement(env, paths, i);
    if ((size_t)(*env)->GetStringUTFLength(env, path) + 1 != stride) return JNI_FALSE;
    const char* chars = (*env)->GetStringUTFChars(env, path, NULL);
    if (chars == NULL) return JNI_FALSE;
    memcpy(names + (size_t)i * stride, chars, stride);
    (*env)->ReleaseStringUTFChars(env, path, chars);
    (*env)->DeleteLocalRef(env, path);
  }
  return JNI_TRUE;
}

/* Flushes the first n prepared paths; true when every one was flushed. */
JNIEXPORT jboolean JNICALL Java_FloorInJvm_flush(JNIEnv* env, jclass cls, jint n) {
  (void)env;
  (void)cls;
  return n >= 0 && n <= count && flush_bare(names, stride, n) == n;
}
