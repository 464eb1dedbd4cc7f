// printf declared without its variadic part, for a deliberately wrong arm64
// build: the path then goes in x1, as Linux passes a variadic argument, where
// Darwin arm64 puts it on the stack.
#ifndef NATIVEFLUSH_LINUX_PRINTF_STDIO_H
#define NATIVEFLUSH_LINUX_PRINTF_STDIO_H

extern "C" int printf(const char* format, const char* path);

#endif
