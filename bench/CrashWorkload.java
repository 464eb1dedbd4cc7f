import com.sun.nio.file.ExtendedOpenOption;
import java.nio.ByteBuffer;
import java.nio.channels.FileChannel;
import java.nio.charset.StandardCharsets;
import java.io.FileOutputStream;
import java.io.IOException;
import java.nio.file.FileSystemException;
import java.nio.file.Files;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.StandardOpenOption;
import java.util.ArrayList;
import java.util.List;
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
 *
 * <pre>CrashWorkload --faults LIBRARY FS OPTIONS SCRATCH MARK_OFFSET SCENARIO...</pre>
 *
 * The faults mode: the disk fails under the mounted file system. Each
 * SCENARIO mounts its own disk (/dev/vda, /dev/vdb... in order: FS with
 * mount OPTIONS) through a device-mapper device at SCRATCH/SCENARIO, and
 * makes it fail by loading the "error" target in place of the "linear" one;
 * loading "linear" again lifts the fault, without a remount:
 * <ul>
 * <li>write (first: /dev/vda is the logged disk): every write fails; a
 * rename, then calls while the fault lasts and after it is lifted;
 * <li>read: every read and write fails, just after a fresh mount, while the
 * call opens a directory;
 * <li>full (no fault): a rename and the call on a full file system.
 * </ul>
 * Each call prints "fault-step STEP DIR", whatever the library prints, then
 * "fault-answer STEP ANSWER NAMES KERNEL": the call's answer, the names
 * renamed so far, and what a bare open, fsync and close of the directory
 * answered right after (the kernel's own word). On the logged disk, a mark
 * "STEP after" follows, for the replay.
 */
public final class CrashWorkload {
    static final int CONTENT_BYTES = 4096;
    static final int MARK_BYTES = 4096;

    static FileChannel device;
    static long markOffset;
    static ByteBuffer mark;
    static DurableDiskSession session;

    public static void main(String[] args) throws Exception {
        if (args.length > 0 && args[0].equals("--faults")) {
            faults(args);
            return;
        }
        if (args.length < 6) {
            System.err.println("usage: CrashWorkload LIBRARY DEVICE MARK_OFFSET ROOT TRIALS WORKLOAD...");
            System.exit(2);
        }
        System.load(args[0]);
        session = new DurableDiskSession();
        openMarks(args[1], Long.parseLong(args[2]));
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

    static void openMarks(String path, long offset) throws IOException {
        // O_DIRECT wants a buffer, offset and length aligned to the block size.
        device = FileChannel.open(Path.of(path), StandardOpenOption.WRITE, StandardOpenOption.DSYNC,
                                  ExtendedOpenOption.DIRECT);
        markOffset = offset;
        mark = ByteBuffer.allocateDirect(2 * MARK_BYTES).alignedSlice(MARK_BYTES);
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

    static void faults(String[] args) throws Exception {
        if (args.length < 7) {
            System.err.println("usage: CrashWorkload --faults LIBRARY FS OPTIONS SCRATCH MARK_OFFSET SCENARIO...");
            System.exit(2);
        }
        System.load(args[1]);
        session = new DurableDiskSession();
        String fs = args[2];
        String options = args[3];
        Path scratch = Path.of(args[4]);
        openMarks("/dev/vda", Long.parseLong(args[5]));
        // The file system ends where the marks begin.
        String linear = "0 " + markOffset / 512 + " linear ";
        for (int s = 6; s < args.length; s++) {
            String scenario = args[s];
            // One disk per scenario, in order; the first is the logged one.
            String device = "/dev/vd" + (char) ('a' + s - 6);
            command("dmsetup", "create", scenario, "--table", linear + device + " 0");
            Path dir = scratch.resolve(scenario);
            Files.createDirectory(dir);
            command("mount", "-t", fs, "-o", options, "/dev/mapper/" + scenario, dir.toString());
            List<String> names = new ArrayList<>();
            switch (scenario) {
                case "write":
                    for (String name : List.of("a", "b", "c")) {
                        write(dir.resolve(name + ".tmp"), name, true);
                    }
                    kernel(dir);
                    command("sync");
                    // A rename made under the fault is pending in memory only: the
                    // call's flush is the first write that fails.
                    fault(scenario, "error");
                    rename(dir, "a", names);
                    step("write.first", dir, names, true);
                    step("write.again", dir, names, true);
                    rename(dir, "b", names);
                    step("write.new-name", dir, names, true);
                    fault(scenario, linear + device + " 0");
                    step("write.lifted", dir, names, true);
                    rename(dir, "c", names);
                    step("write.lifted-new-name", dir, names, true);
                    break;
                case "read":
                    Path nested = Files.createDirectories(dir.resolve("d").resolve("e"));
                    write(nested.resolve("f"), "f", true);
                    // Enough names beside d that what finds d and e is not all read by the
                    // mount itself (btrfs keeps a small tree in one block).
                    for (int i = 0; i < 400; i++) {
                        Files.createFile(dir.resolve("other." + i));
                    }
                    // Dropping the caches leaves the blocks that the journal still holds:
                    // mounted afresh, the file system must read d and e to find them.
                    command("umount", dir.toString());
                    command("mount", "-t", fs, "-o", options, "/dev/mapper/" + scenario, dir.toString());
                    fault(scenario, "error");
                    step("read.open", nested, names, false);
                    fault(scenario, linear + device + " 0");
                    step("read.lifted", nested, names, false);
                    break;
                case "full":
                    write(dir.resolve("g.tmp"), "g", true);
                    kernel(dir);
                    fill(dir);
                    rename(dir, "g", names);
                    step("full.rename", dir, names, false);
                    break;
                default:
                    System.err.println("CrashWorkload: no scenario named " + scenario);
                    System.exit(2);
            }
        }
        System.out.println("workload: done");
    }

    /** Swaps the table of device-mapper's device NAME under its mounted file system. */
    static void fault(String name, String table) throws Exception {
        // --nolockfs: freezing the file system would write what is pending.
        command("dmsetup", "suspend", "--nolockfs", "--noflush", name);
        command("dmsetup", "load", name, "--table", table.equals("error") ? "0 " + markOffset / 512 + " error" : table);
        command("dmsetup", "resume", "--nolockfs", "--noflush", name);
    }

    static void command(String... command) throws Exception {
        ProcessBuilder builder = new ProcessBuilder(command).redirectErrorStream(true);
        // No udev in the guest: device-mapper makes its own device nodes.
        builder.environment().put("DM_DISABLE_UDEV", "1");
        Process process = builder.start();
        String output = new String(process.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        if (process.waitFor() != 0) {
            System.out.println("workload: " + String.join(" ", command) + " failed: " + output.trim());
            System.exit(1);
        }
    }

    static void rename(Path dir, String name, List<String> names) {
        try {
            Files.move(dir.resolve(name + ".tmp"), dir.resolve(name), StandardCopyOption.ATOMIC_MOVE);
            names.add(name);
            System.out.println("fault-rename " + name + " ok");
        } catch (IOException e) {
            System.out.println("fault-rename " + name + " failed: " + reason(e));
        }
    }

    static void step(String step, Path dir, List<String> names, boolean logged) throws Exception {
        System.out.println("fault-step " + step + " " + dir);
        boolean answer = session.forceDirectories(new String[] {dir.toString()});
        String kernel = kernel(dir);
        if (logged) {
            mark(step, "after");
        }
        System.out.println("fault-answer " + step + " " + answer + " " + (names.isEmpty() ? "-" : String.join(",", names))
                           + " " + kernel);
    }

    /** What a bare open, fsync and close of DIR answer: the kernel's own word. */
    static String kernel(Path dir) throws IOException {
        FileChannel channel;
        try {
            channel = FileChannel.open(dir, StandardOpenOption.READ);
        } catch (IOException e) {
            return "open failed: " + reason(e);
        }
        try {
            channel.force(true);
            return "fsync ok";
        } catch (IOException e) {
            return "fsync failed: " + reason(e);
        } finally {
            channel.close();
        }
    }

    static String reason(IOException e) {
        if (e instanceof NoSuchFileException) {
            return "No such file or directory";
        }
        if (e instanceof FileSystemException && ((FileSystemException) e).getReason() != null) {
            return ((FileSystemException) e).getReason();
        }
        return e.getMessage();
    }

    /** Fills DIR's file system: preallocated files, halving the size, then writes to the last byte. */
    static void fill(Path dir) throws Exception {
        long size = Files.getFileStore(dir).getUsableSpace();
        int files = 0;
        for (; size >= 1 << 20; size /= 2) {
            ProcessBuilder builder = new ProcessBuilder("fallocate", "-l", Long.toString(size),
                                                        dir.resolve("fill." + files).toString());
            if (builder.redirectErrorStream(true).start().waitFor() == 0) {
                files++;
            }
        }
        byte[] block = new byte[4096];
        String full = "no error";
        try (FileOutputStream out = new FileOutputStream(dir.resolve("fill." + files).toFile())) {
            for (int i = 0; i < 1 << 16; i++) {
                out.write(block);
            }
            out.getFD().sync();
        } catch (IOException e) {
            full = e.getMessage();
        }
        System.out.println("fault-fill " + Files.getFileStore(dir).getUsableSpace() + " bytes left: " + full);
    }
}
