package org.movrek.filesystem;

import org.movrek.nativeflush.NativeflushLibrary;

public class DurableDiskSession {
    static { System.load(NativeflushLibrary.path()); }

    public native boolean forceDirectories(String[] paths);
}
