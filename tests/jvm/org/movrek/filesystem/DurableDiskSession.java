package org.movrek.filesystem;

/** Test-only declaration of the native method, as the Java side declares it. */
public class DurableDiskSession {
    public native boolean forceDirectories(String[] paths);
}
