// The method as a wrongly built win32 DLL would have it: exported under the
// decorated stdcall name, but cdecl, so it leaves its 12 bytes of arguments
// on the caller's stack. A test links it into a throwaway DLL and expects
// the win32 harness to refuse it. It makes no JNI call, so that the
// first call shows the stack pointer before anything else can go wrong.
#include <jni.h>

extern "C" __attribute__((cdecl)) jboolean NATIVEFLUSH_JNI_NAME(JNIEnv*, jobject, jobjectArray) {
  return JNI_TRUE;
}
