/* The crash experiment's stand-in for the library (scripts/durability.sh
 * --no-flush): the same export, answering true and flushing nothing. With it
 * the experiment must report names lost after the call returned; if it does
 * not, the experiment cannot see what the library is for.
 */
#include <jni.h>

JNIEXPORT jboolean JNICALL Java_org_movrek_filesystem_DurableDiskSession_forceDirectories(JNIEnv* env, jobject self,
                                                                                         jobjectArray paths) {
  (void)env;
  (void)self;
  (void)paths;
  return JNI_TRUE;
}
