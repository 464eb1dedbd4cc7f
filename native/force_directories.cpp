// The native side of DurableDiskSession.forceDirectories(String[]): flushes
// each directory in array order and stops at the first one that cannot be
// opened or flushed, printing one line for it.
//
// Every step hands back what it borrowed before moving on or returning: the
// directory handle first, then the path characters, so that the path is
// still valid while its message is printed.
#include <jni.h>
#include <stdio.h>

#include "directory_ops.h"

static const char MSG_NOT_FOUND[] =
    "Movrek Error [Native Module] Directory %s does not exist.\n";
static const char MSG_FLUSH_FAILED[] =
    "Movrek Error [Native Module] Directory flush failed for %s.\n";

// NATIVEFLUSH_JNI_NAME comes from the build, which also hands it to the
// checks that read the export table.
extern "C" JNIEXPORT jboolean JNICALL
NATIVEFLUSH_JNI_NAME(JNIEnv* env, jobject, jobjectArray paths) {
  // A null array, a null element or a path the VM could not supply has no
  // directory to flush: answer false without a message. In the last case the
  // VM has an error pending (OutOfMemoryError) and raises it on return.
  if (paths == nullptr) return JNI_FALSE;

  const jint count = env->GetArrayLength(paths);
  for (jint index = 0; index < count; ++index) {
    jstring element = static_cast<jstring>(env->GetObjectArrayElement(paths, index));
    if (element == nullptr) return JNI_FALSE;

    const char* path = env->GetStringUTFChars(element, nullptr);
    if (path == nullptr) return JNI_FALSE;

    DirectoryHandle handle;
    if (!open_directory(path, &handle)) {
      printf(MSG_NOT_FOUND, path);
      env->ReleaseStringUTFChars(element, path);
      return JNI_FALSE;
    }
    if (!flush_directory(handle)) {
      printf(MSG_FLUSH_FAILED, path);
      close_directory(handle);
      env->ReleaseStringUTFChars(element, path);
      return JNI_FALSE;
    }
    close_directory(handle);
    env->ReleaseStringUTFChars(element, path);
  }
  return JNI_TRUE;
}
