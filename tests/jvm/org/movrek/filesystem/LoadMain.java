package org.movrek.filesystem;

import java.io.File;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.CyclicBarrier;
import java.util.concurrent.atomic.AtomicInteger;

/**
 * Drives many calls in one JVM, for the concurrency and scale tests. The
 * library's lines go to stdout; this driver writes only its figures, as one
 * line on stderr, and exits 0 when every result was right and no file
 * descriptor was left open.
 *
 * <pre>
 * threads LIB ROOT THREADS CALLS   each thread alternates calls that succeed on
 *                                  ROOT/a,b,c with calls that fail at /proc
 * scale LIB ROOT PATHS CALLS       CALLS calls with PATHS paths each (repeats of
 *                                  ROOT/a..d); resident memory may grow by less
 *                                  than RSS_GROWTH_LIMIT_KIB
 * </pre>
 */
public final class LoadMain {
    private static final DurableDiskSession SESSION = new DurableDiskSession();
    private static final long RSS_GROWTH_LIMIT_KIB = 8 * 1024;

    public static void main(String[] args) throws Exception {
        System.load(args[1]);
        String root = args[2];
        int a = Integer.parseInt(args[3]);
        int b = Integer.parseInt(args[4]);
        boolean ok = args[0].equals("threads") ? threads(root, a, b) : scale(root, a, b);
        System.exit(ok ? 0 : 1);
    }

    /** Every third call of each thread fails at /proc, so THREADS * CALLS / 3 lines are due. */
    private static boolean threads(String root, int threads, int calls) throws Exception {
        String[] good = {root + "/a", root + "/b", root + "/c"};
        String[] bad = {root + "/a", "/proc", root + "/c"};
        AtomicInteger wrong = new AtomicInteger();
        AtomicInteger failures = new AtomicInteger();
        SESSION.forceDirectories(good);
        int before = openDescriptors();
        // All threads start calling at once, or the first could be done
        // before the last is started.
        CyclicBarrier start = new CyclicBarrier(threads);
        List<Thread> workers = new ArrayList<>();
        for (int t = 0; t < threads; t++) {
            Thread worker = new Thread(() -> {
                try {
                    start.await();
                } catch (Exception e) {
                    throw new IllegalStateException(e);
                }
                for (int i = 0; i < calls; i++) {
                    boolean fails = i % 3 == 2;
                    if (SESSION.forceDirectories(fails ? bad : good) == fails) wrong.incrementAndGet();
                    if (fails) failures.incrementAndGet();
                }
            });
            workers.add(worker);
            worker.start();
        }
        for (Thread worker : workers) worker.join();
        int after = openDescriptors();
        System.err.printf("threads %d, calls %d, failing calls %d, wrong results %d, open fds before %d after %d%n",
                threads, threads * calls, failures.get(), wrong.get(), before, after);
        return wrong.get() == 0 && before == after;
    }

    private static boolean scale(String root, int size, int calls) throws Exception {
        String[] paths = new String[size];
        for (int i = 0; i < size; i++) paths[i] = root + "/" + "abcd".charAt(i % 4);
        // Let the JVM open what it opens lazily before anything is counted.
        boolean all = SESSION.forceDirectories(new String[] {root + "/a"});
        long rssBefore = residentKiB();
        int before = openDescriptors();
        for (int i = 0; i < calls; i++) all &= SESSION.forceDirectories(paths);
        int after = openDescriptors();
        long rssAfter = residentKiB();
        System.err.printf("paths %d, calls %d, all true %b, open fds before %d after %d, rss KiB before %d after %d%n",
                size, calls, all, before, after, rssBefore, rssAfter);
        // The calls themselves allocate nothing that outlives them; a few MiB
        // of slack covers the JIT and the JVM's own bookkeeping.
        return all && before == after && rssAfter - rssBefore < RSS_GROWTH_LIMIT_KIB;
    }

    private static int openDescriptors() {
        return new File("/proc/self/fd").list().length;
    }

    private static long residentKiB() throws Exception {
        for (String line : Files.readAllLines(Paths.get("/proc/self/status"))) {
            if (line.startsWith("VmRSS:")) return Long.parseLong(line.replaceAll("[^0-9]", ""));
        }
        throw new IllegalStateException("no VmRSS in /proc/self/status");
    }
}
