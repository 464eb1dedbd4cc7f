package org.movrek.filesystem;

import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.File;
import java.nio.file.Path;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * Run by Surefire in a forked JVM. The library's line for the missing
 * directory goes through C's stdout buffer to that JVM's file descriptor 1,
 * so it is written when the JVM exits, after every test:
 * tests/maven/run_consumer.py finds it in Maven's output.
 */
class DurableDiskSessionTest {
    @Test
    void flushesANewDirectory(@TempDir Path directory) {
        assertTrue(new DurableDiskSession().forceDirectories(new String[] {directory.toString()}));
    }

    @Test
    void answersFalseForAMissingDirectory() {
        String missing = new File("target", "missing-directory").getAbsolutePath();
        assertFalse(new DurableDiskSession().forceDirectories(new String[] {missing}));
    }
}
