package org.movrek.filesystem;

import java.io.FileDescriptor;
import java.io.FileOutputStream;
import java.io.IOException;
import java.nio.charset.StandardCharsets;

/**
 * Calls forceDirectories once, then marks the moment it returned with one
 * write to stderr ("returned true\n" or "returned false\n"), so that a system
 * call trace shows what the library did during the call and what only
 * happened afterwards (its stdout line, written out at exit).
 *
 * <p>Arguments: the library file, then the paths. Exit status 0 for true, 3
 * for false, as ForceDirectoriesMain.
 */
public final class MarkedForceDirectoriesMain {
    public static void main(String[] args) throws IOException {
        System.load(args[0]);
        String[] paths = new String[args.length - 1];
        System.arraycopy(args, 1, paths, 0, paths.length);
        boolean flushed = new DurableDiskSession().forceDirectories(paths);
        // A bare FileOutputStream: one write(2) call, no buffering in between.
        new FileOutputStream(FileDescriptor.err)
            .write(("returned " + flushed + "\n").getBytes(StandardCharsets.US_ASCII));
        System.exit(flushed ? 0 : 3);
    }
}
