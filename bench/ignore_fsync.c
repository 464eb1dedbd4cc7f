/* The stand-in for scripts/durability.sh --faults --ignore-errors: linked
 * with -Wl,--wrap=fsync beside the library's own sources, it takes their
 * fsync. The directory is still flushed, but a failure is dropped, so the
 * call answers true whenever the directory opens. With it the experiment
 * must report a true under a failing disk; if it does not, the experiment
 * cannot see what the library's false is for.
 */
int __real_fsync(int fd);

int __wrap_fsync(int fd) {
  (void)__real_fsync(fd);
  return 0;
}
