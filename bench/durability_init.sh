#!/bin/busybox sh
# The crash experiment's guest: PID 1 of the initramfs that
# bench/durability.py makes. Arguments, from the kernel command line after
# "--": the file system type of the scratch disk, then a command. Loads the
# modules /modules lists (in dependency order), mounts the host's root
# read-only with the scratch disk at /tmp/scratch in it, runs the command
# there, and ends the machine without unmounting or syncing: what the write
# log holds is then all a power cut would have left.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t devtmpfs dev /dev
for module in $(cat /modules); do
  insmod "/lib/$module.ko" || exit 1
done
fs=$1
shift
mount -t 9p -o trans=virtio,version=9p2000.L,ro,cache=loose,msize=262144 host /host &&
  mount -t tmpfs tmp /host/tmp &&
  mount -t proc proc /host/proc &&
  mount -t devtmpfs dev /host/dev &&
  mkdir /host/tmp/scratch &&
  mount -t "$fs" /dev/vda /host/tmp/scratch &&
  chroot /host "$@"
echo "guest: exit status $?"
reboot -f
