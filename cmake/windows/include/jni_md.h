/* The JNI per-platform header for Windows, x86-64 and i386 alike, with the
   content the JNI standard gives it. No JDK on this machine carries a Windows
   one. JNIEXPORT may be preset by the build, as in the JDK's own headers. */
#ifndef _JAVASOFT_JNI_MD_H_
#define _JAVASOFT_JNI_MD_H_

#ifndef JNIEXPORT
#define JNIEXPORT __declspec(dllexport)
#endif
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef __int64 jlong;
typedef signed char jbyte;

#endif
