// The JNI per-platform definitions for Mac OS X and macOS, i386 and 64-bit:
// default-visibility exports, the C calling convention, 32-bit jint.
#ifndef _JAVASOFT_JNI_MD_H_
#define _JAVASOFT_JNI_MD_H_

#define JNIEXPORT __attribute__((visibility("default")))
#define JNIIMPORT __attribute__((visibility("default")))
#define JNICALL

typedef int jint;
typedef long long jlong;
typedef signed char jbyte;

#endif
