package org.movrek.filesystem;

import java.io.File;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.List;
import org.movrek.nativeflush.NativeflushLibrary;

/**
 * Calls forceDirectories in a fresh JVM, so that the library's stdout buffer
 * is written out when the JVM exits and its bytes can be compared.
 *
 * <p>Arguments: the library file, or a directory that holds the deliverables
 * (the file is then chosen by docs/java.md's method, compiled in as
 * LibraryFile), or "--jar" (the jar's NativeflushLibrary.path(); if it
 * refuses, its message goes to stderr and the exit status is 2), then the
 * paths of one call. Some arguments stand for
 * something else:
 * <ul>
 *   <li>"--null-array" alone passes a null array;
 *   <li>"--null" passes a null element;
 *   <li>"--utf8-hex=HEX" passes the string whose UTF-8 encoding is HEX, so that
 *       any text arrives intact whatever the launcher's locale;
 *   <li>"--long=N=PREFIX" passes PREFIX followed by N letters x, a path longer
 *       than a command line may carry;
 *   <li>"--then-remove=DIR" ends a call: DIR is removed and the paths after it
 *       make a second call.
 * </ul>
 * The exit status is 0 when every call returned true, and 3 + the index of
 * the first call that returned false otherwise (1 stays for an uncaught
 * exception). The driver itself writes nothing to stdout. With the property
 * together=DIR,N it first waits until N drivers have arrived in DIR, so that
 * they all extract from the jar at once; with platforms=OS/ARCH,... it first
 * asks the jar for each of those platforms' files.
 */
public final class ForceDirectoriesMain {
    public static void main(String[] args) throws Exception {
        File library = new File(args[0]);
        if (args[0].equals("--jar")) {
            String[] together = System.getProperty("together", "").split(",");
            if (together.length == 2) {
                // Each takes the first free number; no listing: an i386 JVM under qemu-i386 sees none here.
                for (int i = 0; !new File(together[0], "" + i).createNewFile(); i++) { }
                while (!new File(together[0], "" + (Integer.parseInt(together[1]) - 1)).exists()) Thread.sleep(1);
            }
            try {
                samePlatformChoice(System.getProperty("platforms", ""));
                library = new File(NativeflushLibrary.path());
            } catch (UnsatisfiedLinkError e) {
                System.err.println(e.getMessage());
                System.exit(2);
            }
        }
        System.load(library.isDirectory() ? new File(library, LibraryFile.nativeflushFile()).getPath() : library.getPath());
        DurableDiskSession session = new DurableDiskSession();
        if (args.length == 2 && args[1].equals("--null-array")) {
            System.exit(session.forceDirectories(null) ? 0 : 3);
        }
        List<String> paths = new ArrayList<>();
        int call = 0;
        for (int i = 1; i <= args.length; i++) {
            String arg = i < args.length ? args[i] : "--then-remove=";
            if (arg.startsWith("--then-remove=")) {
                if (!session.forceDirectories(paths.toArray(new String[0]))) System.exit(3 + call);
                String directory = arg.substring("--then-remove=".length());
                if (!directory.isEmpty() && !new File(directory).delete()) System.exit(2);
                paths.clear();
                call++;
            } else if (arg.equals("--null")) {
                paths.add(null);
            } else if (arg.startsWith("--long=")) {
                String[] parts = arg.split("=", 3);
                paths.add(parts[2] + "x".repeat(Integer.parseInt(parts[1])));
            } else if (arg.startsWith("--utf8-hex=")) {
                paths.add(fromHex(arg.substring("--utf8-hex=".length())));
            } else {
                paths.add(arg);
            }
        }
        System.exit(0);
    }

    /** For each os.name/os.arch listed, the jar must extract the file that docs/java.md's method names. */
    private static void samePlatformChoice(String platforms) {
        String os = System.getProperty("os.name"), arch = System.getProperty("os.arch");
        for (String platform : platforms.split(",", -1)) {
            if (platform.isEmpty()) continue;
            System.setProperty("os.name", platform.split("/")[0]);
            System.setProperty("os.arch", platform.split("/")[1]);
            String readme = LibraryFile.nativeflushFile(), jar = new File(NativeflushLibrary.path()).getName();
            if (!jar.equals(readme)) throw new UnsatisfiedLinkError(platform + ": the jar extracts " + jar + ", docs/java.md names " + readme);
        }
        System.setProperty("os.name", os);
        System.setProperty("os.arch", arch);
    }

    private static String fromHex(String hex) {
        byte[] bytes = new byte[hex.length() / 2];
        for (int i = 0; i < bytes.length; i++) {
            bytes[i] = (byte) Integer.parseInt(hex.substring(2 * i, 2 * i + 2), 16);
        }
        return new String(bytes, StandardCharsets.UTF_8);
    }
}
