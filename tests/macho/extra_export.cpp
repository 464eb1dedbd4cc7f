// A second exported function, which a deliberately wrong build adds to the library.
extern "C" __attribute__((visibility("default"))) int nativeflush_extra_export() { return 0; }
