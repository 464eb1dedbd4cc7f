/** Way (d) of the benchmark: the floor's bare loop inside this JVM (floor_in_jvm.c). */
final class FloorInJvm {
    /** Copies the paths, all of one length, out of the JVM once. */
    static native boolean prepare(String[] paths);

    /** Opens, flushes and closes the first n prepared paths. */
    static native boolean flush(int n);
}
