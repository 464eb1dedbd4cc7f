#!/bin/busybox sh
# The crash experiment's guest: PID 1 of the initramfs that
# bench/durability.py makes. Arguments, from the kernel command line after
# "--": SCRATCH, an empty directory of the host's; FS, the file system type
# of the scratch disk, or "none"; then a command. Loads the modules /modules
# lists (in dependency order), mounts the host's root read-only, a tmpfs on
# SCRATCH and, unless FS is none, /dev/vda at SCRATCH/disk; runs the command
# there, and ends the machine without unmounting or syncing: what the write
# log holds is then all a power cut would have left.
#
# Only SCRATCH is covered, never /tmp: a checkout may live anywhere.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t devtmpfs dev /dev
for module in $(cat /modules); do
  insmod "/lib/$module.ko" || exit 1
done
# The kernel's complaints about the failing disk would split the workload's
# lines on the console; they are printed after it instead.
echo 1 >/proc/sys/kernel/printk
scratch=$1
fs=$2
shift 2
# Each absolute path in the command (the JVM, its classes, the library)
# must be seen through the host's root, as the command will see it; a
# path's absolute symbolic links resolve only there.
visible() {
  for path; do
    case $path in
      /dev/*) ;;
      /*) chroot /host /usr/bin/test -e "$path" ||
            { echo "guest: cannot see $path from inside the machine"; return 1; } ;;
    esac
  done
}
mount -t 9p -o trans=virtio,version=9p2000.L,ro,cache=loose,msize=262144 host /host &&
  mount -t proc proc /host/proc &&
  mount -t devtmpfs dev /host/dev &&
  visible "$scratch" &&
  mount -t tmpfs scratch "/host$scratch" &&
  if [ "$fs" != none ]; then
    mkdir "/host$scratch/disk" && mount -t "$fs" /dev/vda "/host$scratch/disk"
  fi &&
  visible "$@" &&
  PATH=/usr/sbin:/usr/bin:/sbin:/bin chroot /host "$@"
echo "guest: exit status $?"
dmesg | sed 's/^/kernel: /'
reboot -f
