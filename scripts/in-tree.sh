#!/bin/sh
# Runs COMMAND in namespaces of its own, ready to chroot into the Debian tree
# TREE: the tree's /proc is mounted, and each of DIRECTORIES (separated by
# colons) of the host is bound at the same path inside the tree. The tree's
# programs there are for another architecture than the host's, QEMU's (a path
# inside the tree, such as /usr/bin/qemu-i386), or the host's own (WAY native).
# WAY says how the kernel comes to run them:
#   native     itself;
#   namespace  through a binfmt_misc entry for QEMU in a user namespace of
#              the run's own (Linux 6.7 and later);
#   host       through such an entry in the host's table, made once and left
#              in place.
# cmake/foreign-way.cmake chooses WAY by trying. The mounts, the namespace's
# entry and every process the command leaves behind end with it.
#   in-tree.sh TREE QEMU WAY DIRECTORIES COMMAND...
set -eu
tree=$1 qemu=$2 way=$3 directory=$4
shift 4

# The entry that hands QEMU's architecture's ELF executables, static or
# position-independent, to QEMU. F opens QEMU when the entry is made, so that
# it is found from inside the tree as well. The kernel takes it in one write.
binfmt_entry() {
  case $(basename "$qemu") in
    qemu-i386) magic=':nativeflush-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:' ;;
    qemu-aarch64) magic=':nativeflush-aarch64:M::\x7fELF\x02\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\xb7\x00:\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:' ;;
    *) echo "in-tree.sh: no binfmt_misc entry for $qemu" >&2; exit 2 ;;
  esac
  printf '%s' "$magic$tree$qemu:F"
}

case ${NATIVEFLUSH_IN_TREE:-} in
  mapping)
    # Started in a new user namespace before its ids were mapped, and so
    # without a root's capabilities there: once they are, start again.
    tries=0
    while [ -z "$(cat /proc/self/uid_map)" ]; do
      tries=$((tries + 1))
      if [ "$tries" -gt 1000 ]; then
        echo "in-tree.sh: the user namespace's ids were not mapped within 10 s" >&2
        exit 2
      fi
      sleep 0.01
    done
    NATIVEFLUSH_IN_TREE=inside exec sh "$0" "$tree" "$qemu" "$way" "$directory" "$@" ;;
  inside)
    unset NATIVEFLUSH_IN_TREE
    mount -t proc proc "$tree/proc"
    if [ "$way" = namespace ]; then
      mount -t binfmt_misc binfmt_misc "$tree/proc/sys/fs/binfmt_misc"
      binfmt_entry > "$tree/proc/sys/fs/binfmt_misc/register"
    fi
    IFS=:
    for bound in $directory; do
      mkdir -p "$tree$bound"
      mount --bind "$bound" "$tree$bound"
    done
    unset IFS
    exec "$@" ;;
esac

if [ "$way" != native ] && [ ! -f "$tree$qemu" ]; then
  echo "in-tree.sh: the Debian tree $tree has no $qemu; see TREE_PACKAGES in scripts/bootstrap.sh" >&2
  exit 2
fi
status=0
case $way in
  native|host)
    if [ "$way" = host ]; then
      binfmt=/proc/sys/fs/binfmt_misc
      [ -f "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
      entry=$(binfmt_entry) && name=${entry#:} && name=${name%%:*}
      [ -f "$binfmt/$name" ] || printf '%s' "$entry" > "$binfmt/register"
    fi
    NATIVEFLUSH_IN_TREE=inside unshare --mount --pid --fork sh "$0" "$tree" "$qemu" "$way" "$directory" "$@" ||
      status=$?
    ;;
  namespace)
    # The user namespace maps the ids of this one, so that every user is the
    # same in both.
    NATIVEFLUSH_IN_TREE=mapping unshare --user --mount --pid --fork sh "$0" "$tree" "$qemu" "$way" "$directory" "$@" &
    inner=$!
    while kill -0 "$inner" 2>/dev/null && [ "$(readlink "/proc/$inner/ns/user")" = "$(readlink /proc/self/ns/user)" ]; do
      sleep 0.01
    done
    echo "0 0 65536" > "/proc/$inner/uid_map" || true
    echo "0 0 65536" > "/proc/$inner/gid_map" || true
    wait "$inner" || status=$?
    ;;
  *) echo "in-tree.sh: '$way' is none of native, namespace, host" >&2; exit 2 ;;
esac
IFS=:
for bound in $directory; do
  rmdir "$tree$bound" 2>/dev/null || true
done
exit "$status"
