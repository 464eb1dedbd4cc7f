package org.movrek.filesystem;

/**
 * Calls forceDirectories once in a fresh JVM, so that the library's stdout
 * buffer is written out when the JVM exits and its bytes can be compared.
 *
 * <p>Arguments: the library file, then the paths. "--null-array" alone passes
 * a null array; "--null" passes a null element. The result is the exit
 * status: 0 for true, 3 for false (1 stays for an uncaught exception). The
 * driver itself writes nothing to stdout.
 */
public final class ForceDirectoriesMain {
    public static void main(String[] args) {
        System.load(args[0]);
        String[] paths = null;
        if (!(args.length == 2 && args[1].equals("--null-array"))) {
            paths = new String[args.length - 1];
            for (int i = 1; i < args.length; i++) {
                paths[i - 1] = args[i].equals("--null") ? null : args[i];
            }
        }
        boolean flushed = new DurableDiskSession().forceDirectories(paths);
        System.exit(flushed ? 0 : 3);
    }
}
