import com.sun.nio.file.ExtendedOpenOption;
import java.nio.ByteBuffer;
import java.nio.channels.FileChannel;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.StandardOpenOption;
import org.movrek.filesystem.DurableDiskSession;

/**
 * The crash experiment's workload, run in the emulated machine on a fresh
 * file system whose writes are logged (bench/durability.py reads the log).
 *
 * <pre>CrashWorkload LIBRARY DEVICE MARK_OFFSET ROOT TRIALS WORKLOAD...</pre>
 *
 * Each WORKLOAD makes TRIALS files named WORKLOAD.TRIAL in ROOT, each of
 * CONTENT_BYTES bytes of its name's line repeated:
 * <ul>
 * <li>rename: write NAME.tmp, fsync it, rename it to NAME;
 * <li>create: write NAME, fsync it;
 * <li>unsynced: write NAME, no fsync.
 * </ul>
 * With the suffix {@code +call}, forceDirectories(ROOT) follows, and must
 * return true. Around that place, called or not, the workload marks the
 * device: "before" just ahead of it, "acknowledged" once it returned, where
 * an application would answer its client. A mark is one block written with
 * O_DIRECT and O_DSYNC at MARK_OFFSET, beyond the end of the file system:
 * it reaches the log after every write the file system had finished, and
 * is followed there by a flush.
 */
public final class CrashWorkload {
    static final int CONTENT_BYTES = 4096;
    static final int MARK_BYTES = 4096;

    static FileChannel device;
    static long markOffset;
    static ByteBuffer mark;

    public static void main(String[] args) throws Exception {
        if (args.length < 6) {
            System.err.println("usage: CrashWorkload LIBRARY DEVICE MARK_OFFSET ROOT TRIALS WORKLOAD...");
            System.exit(2);
        }
        System.load(args[0]);
        DurableDiskSession session = new DurableDiskSession();
        // O_DIRECT wants a buffer, offset and length aligned to the block size.
        device = FileChannel.open(Path.of(args[1]), StandardOpenOption.WRITE, StandardOpenOption.DSYNC,
                                  ExtendedOpenOption.DIRECT);
        markOffset = Long.parseLong(args[2]);
        mark = ByteBuffer.allocateDirect(2 * MARK_BYTES).alignedSlice(MARK_BYTES);
        Path root = Path.of(args[3]);
        int trials = Integer.parseInt(args[4]);
        for (int w = 5; w < args.length; w++) {
            String workload = args[w];
            boolean call = workload.endsWith("+call");
            String kind = call ? workload.substring(0, workload.length() - "+call".length()) : workload;
            for (int trial = 0; trial < trials; trial++) {
                String name = workload + "." + trial;
                Path file = root.resolve(name);
                switch (kind) {
                    case "rename":
                        Path tmp = root.resolve(name + ".tmp");
                        write(tmp, name, true);
                        Files.move(tmp, file, StandardCopyOption.ATOMIC_MOVE);
                        break;
                    case "create":
                        write(file, name, true);
                        break;
                    case "unsynced":
                        write(file, name, false);
                        break;
                    default:
                        System.err.println("CrashWorkload: no workload named " + workload);
                        System.exit(2);
                }
                mark(name, "before");
                if (call && !session.forceDirectories(new String[] {root.toString()})) {
                    System.out.println("workload: forceDirectories(" + root + ") returned false at " + name);
                    System.exit(1);
                }
                mark(name, "acknowledged");
            }
        }
        System.out.println("workload: done");
    }

    /** NAME's line, repeated to CONTENT_BYTES; durability.py expects the same. */
    static void write(Path file, String name, boolean fsync) throws Exception {
        byte[] line = ("nativeflush " + name + "\n").getBytes(StandardCharsets.US_ASCII);
        ByteBuffer content = ByteBuffer.allocate(CONTENT_BYTES);
        while (content.hasRemaining()) {
            content.put(line, 0, Math.min(line.length, content.remaining()));
        }
        content.flip();
        try (FileChannel channel = FileChannel.open(file, StandardOpenOption.CREATE_NEW, StandardOpenOption.WRITE)) {
            while (content.hasRemaining()) {
                channel.write(content);
            }
            if (fsync) {
                channel.force(true);
            }
        }
    }

    static void mark(String name, String event) throws Exception {
        mark.clear();
        mark.put(("nativeflush-mark " + name + " " + event + "\n").getBytes(StandardCharsets.US_ASCII));
        while (mark.hasRemaining()) {
            mark.put((byte) 0);
        }
        mark.flip();
        while (mark.hasRemaining()) {
            device.write(mark, markOffset + mark.position());
        }
    }
}
