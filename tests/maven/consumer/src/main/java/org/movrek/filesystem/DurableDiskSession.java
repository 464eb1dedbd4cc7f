package org.movrek.filesystem;

import org.movrek.nativeflush.NativeflushLibrary;

/** The Java side of the native method, loading the library as README.md shows. */
public class DurableDiskSession {
    static { System.load(NativeflushLibrary.path()); }

    public native boolean forceDirectories(String[] paths);
}
