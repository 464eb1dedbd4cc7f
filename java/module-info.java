/** The nativeflush library for every platform, and the class that puts the right one on disk. */
module org.movrek.nativeflush {
    exports org.movrek.nativeflush;
}
