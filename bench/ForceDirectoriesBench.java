import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.io.PrintStream;
import java.nio.channels.FileChannel;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardOpenOption;
import java.util.Arrays;
import java.util.Locale;
import org.movrek.filesystem.DurableDiskSession;

/**
 * Times four ways of flushing the same N directories and prints a table:
 * (a) forceDirectories through the library, (b) FileChannel.open(dir, READ)
 * with force(true) and close, in this JVM, (c) the floor, a C program's bare
 * open/fsync/close loop (floor.c, a child process kept warm), and (d) the
 * same bare loop inside this JVM (floor_in_jvm.c), which splits a/c into
 * what the library adds (a/d) and what the JVM's process adds (d/c).
 *
 * <pre>ForceDirectoriesBench LIBRARY FLOOR FLOOR_IN_JVM  NAME ROOT DIRS_PER_ROUND ROUNDS  [NAME ROOT ...]</pre>
 *
 * Each place is an empty directory (ROOT) on the file system to measure,
 * labelled NAME. For each N, each way makes the same number of calls per
 * round, max(1, DIRS_PER_ROUND / N), each call timed on its own around the
 * whole call. One round is run first as a warm-up and not recorded. Within a
 * round the calls of each N are made in up to CHUNKS turns, and in every turn
 * each way makes its share, in an order that rotates from turn to turn: a
 * burst of load from elsewhere on the machine then falls on all ways alike.
 * Ratios are taken round by round, between ways that ran side by side.
 */
public final class ForceDirectoriesBench {
    static final int[] SIZES = {1, 10, 100, 1000, 10000};
    static final int A = 0, B = 1, C = 2, D = 3, WAYS = 4;
    static final int CHUNKS = 10;
    static final PrintStream out = System.out;

    // The result of every (a) and (d) call is checked, so the calls cannot
    // be dropped as dead code; (b) and (c) are system calls, which never are.
    static long callsMade;

    public static void main(String[] args) throws Exception {
        if (args.length < 7 || (args.length - 3) % 4 != 0) {
            System.err.println("usage: ForceDirectoriesBench LIBRARY FLOOR FLOOR_IN_JVM NAME ROOT DIRS_PER_ROUND ROUNDS [NAME ROOT DIRS_PER_ROUND ROUNDS...]");
            System.exit(2);
        }
        System.load(args[0]);
        System.load(args[2]);
        for (int i = 3; i < args.length; i += 4) {
            run(args[1], args[i], args[i + 1], Integer.parseInt(args[i + 2]), Integer.parseInt(args[i + 3]));
        }
        out.printf(Locale.ROOT, "%n%d timed calls made; every (a) and (d) call returned true%n", callsMade);
    }

    static void run(String floor, String name, String root, int dirsPerRound, int rounds) throws Exception {
        int count = SIZES[SIZES.length - 1];
        String[] paths = new String[count];
        Path[] dirs = new Path[count];
        for (int i = 0; i < count; i++) {
            paths[i] = String.format(Locale.ROOT, "%s/d%05d", root, i);
            dirs[i] = Files.createDirectory(Path.of(paths[i]));
        }
        if (!FloorInJvm.prepare(paths)) throw new IllegalStateException("FloorInJvm.prepare failed");
        Process child = new ProcessBuilder(floor, root, Integer.toString(count))
            .redirectError(ProcessBuilder.Redirect.INHERIT).start();
        Ways ways = new Ways(paths, dirs, child);

        // [size][way][round]: ns per directory
        double[][][] perDir = new double[SIZES.length][WAYS][rounds];
        for (int round = -1; round < rounds; round++) {
            for (int s = 0; s < SIZES.length; s++) {
                int n = SIZES[s];
                int calls = Math.max(1, dirsPerRound / n);
                int turns = Math.min(CHUNKS, calls);
                long[] ns = new long[WAYS];
                for (int turn = 0; turn < turns; turn++) {
                    // This turn's share: the calls are spread evenly over the turns.
                    int share = calls * (turn + 1) / turns - calls * turn / turns;
                    for (int k = 0; k < WAYS; k++) {
                        int way = (k + turn + s + Math.max(round, 0)) % WAYS;
                        ns[way] += ways.time(way, n, share);
                    }
                }
                if (round < 0) continue;
                for (int way = 0; way < WAYS; way++) perDir[s][way][round] = (double) ns[way] / ((double) calls * n);
            }
        }
        ways.close();
        print(name, root, dirsPerRound, rounds, perDir);
    }

    /** The four ways; time(...) returns the summed ns of the calls it makes. */
    static final class Ways {
        final String[] paths;
        final Path[] dirs;
        final Process floor;
        final PrintStream toFloor;
        final BufferedReader fromFloor;
        final DurableDiskSession session = new DurableDiskSession();

        Ways(String[] paths, Path[] dirs, Process floor) {
            this.paths = paths;
            this.dirs = dirs;
            this.floor = floor;
            this.toFloor = new PrintStream(floor.getOutputStream(), true, StandardCharsets.US_ASCII);
            this.fromFloor = new BufferedReader(new InputStreamReader(floor.getInputStream(), StandardCharsets.US_ASCII));
        }

        long time(int way, int n, int calls) throws IOException {
            switch (way) {
                case A: return library(Arrays.copyOf(paths, n), calls);
                case B: return fileChannel(Arrays.copyOf(dirs, n), calls);
                case C: return floor(n, calls);
                default: return floorInJvm(n, calls);
            }
        }

        // Each way has a timing loop of its own, so that nothing but its own
        // work (no shared dispatch) sits between the two nanoTime calls.
        long library(String[] batch, int calls) {
            long total = 0;
            for (int c = 0; c < calls; c++) {
                long start = System.nanoTime();
                boolean flushed = session.forceDirectories(batch);
                total += System.nanoTime() - start;
                if (!flushed) throw new IllegalStateException("forceDirectories returned false");
                callsMade++;
            }
            return total;
        }

        long fileChannel(Path[] batch, int calls) throws IOException {
            long total = 0;
            for (int c = 0; c < calls; c++) {
                long start = System.nanoTime();
                for (Path dir : batch) {
                    try (FileChannel channel = FileChannel.open(dir, StandardOpenOption.READ)) {
                        channel.force(true);
                    }
                }
                total += System.nanoTime() - start;
                callsMade++;
            }
            return total;
        }

        long floorInJvm(int n, int calls) {
            long total = 0;
            for (int c = 0; c < calls; c++) {
                long start = System.nanoTime();
                boolean flushed = FloorInJvm.flush(n);
                total += System.nanoTime() - start;
                if (!flushed) throw new IllegalStateException("FloorInJvm.flush returned false");
                callsMade++;
            }
            return total;
        }

        long floor(int n, int calls) throws IOException {
            toFloor.println(n + " " + calls);
            String line = fromFloor.readLine();
            if (line == null) throw new IllegalStateException("the floor program stopped");
            callsMade += calls;
            return Long.parseLong(line.trim());
        }

        void close() throws InterruptedException {
            toFloor.close();
            if (floor.waitFor() != 0) throw new IllegalStateException("the floor program exited with " + floor.exitValue());
        }
    }

    static double median(double[] values) {
        double[] v = values.clone();
        Arrays.sort(v);
        int m = v.length / 2;
        return v.length % 2 == 1 ? v[m] : (v[m - 1] + v[m]) / 2;
    }

    static double[] ratios(double[] x, double[] y) {
        double[] r = new double[x.length];
        for (int i = 0; i < x.length; i++) r[i] = x[i] / y[i];
        return r;
    }

    static String spread(double[] r) {
        double[] v = r.clone();
        Arrays.sort(v);
        return String.format(Locale.ROOT, "%.2f (%.2f-%.2f)", median(r), v[0], v[v.length - 1]);
    }

    static void print(String name, String root, int dirsPerRound, int rounds, double[][][] perDir) {
        out.printf(Locale.ROOT, "%n%s (%s): ns per directory, median of %d rounds after a warm-up round%n", name, root, rounds);
        out.printf(Locale.ROOT, "%n| N | calls | (a) library | (b) FileChannel | (c) floor | (d) floor in JVM "
            + "| a/c (min-max) | a/b (min-max) | a/d | d/c |%n");
        out.printf(Locale.ROOT, "|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|%n");
        double[] a = new double[SIZES.length], c = new double[SIZES.length];
        double worstAc = 0, worstAb = 0;
        for (int s = 0; s < SIZES.length; s++) {
            double[][] w = perDir[s];
            double[] ac = ratios(w[A], w[C]);
            double[] ab = ratios(w[A], w[B]);
            a[s] = median(w[A]);
            c[s] = median(w[C]);
            if (SIZES[s] >= 100) {
                worstAc = Math.max(worstAc, median(ac));
                worstAb = Math.max(worstAb, median(ab));
            }
            out.printf(Locale.ROOT, "| %d | %d | %.0f | %.0f | %.0f | %.0f | %s | %s | %.2f | %.2f |%n",
                SIZES[s], Math.max(1, dirsPerRound / SIZES[s]), a[s], median(w[B]), c[s], median(w[D]),
                spread(ac), spread(ab), median(ratios(w[A], w[D])), median(ratios(w[D], w[C])));
        }
        out.printf(Locale.ROOT, "%nN >= 100: a/c at most %.2f, a/b at most %.2f (medians over rounds)%n", worstAc, worstAb);
        out.printf(Locale.ROOT, "N = 10 to 10000: (a) within %.1f%% of its mean, (c) within %.1f%% of its mean%n",
            100 * spreadFromMean(a), 100 * spreadFromMean(c));
    }

    /** How far the values for N = 10 and up stray from their mean, at most, as a fraction. */
    static double spreadFromMean(double[] bySize) {
        double sum = 0, worst = 0;
        for (int s = 1; s < bySize.length; s++) sum += bySize[s];
        double mean = sum / (bySize.length - 1);
        for (int s = 1; s < bySize.length; s++) worst = Math.max(worst, Math.abs(bySize[s] / mean - 1));
        return worst;
    }
}
