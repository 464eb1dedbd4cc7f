# nativeflush_foreign_way(ARCH PROBE OUT)
# How this kernel comes to run a program of the tree built for another
# architecture (see scripts/in-tree.sh), decided once per configure by
# trying: itself where it can (PROBE, a program of that architecture, runs);
# otherwise qemu through binfmt_misc, in a user namespace of each run's own
# where the kernel allows that (Linux 6.7 and later), or in the host's table.
function(nativeflush_foreign_way arch probe out)
  nativeflush_require(${probe})
  execute_process(COMMAND ${probe} --version RESULT_VARIABLE native OUTPUT_QUIET ERROR_QUIET)
  execute_process(COMMAND unshare --user --map-root-user --mount --pid --fork --mount-proc
                          sh -c "mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc"
                  RESULT_VARIABLE namespace OUTPUT_QUIET ERROR_QUIET)
  if(native EQUAL 0)
    set(way native)
    set(how "run natively by this kernel")
  elseif(namespace EQUAL 0)
    set(way namespace)
    set(how "run by qemu through binfmt_misc in a user namespace of each run's own")
  else()
    set(way host)
    set(how "run by qemu through binfmt_misc in the host's table (this kernel has none per user namespace)")
  endif()
  message(NOTICE "tests: ${arch} programs of the Debian tree are ${how}")
  set(${out} ${way} PARENT_SCOPE)
endfunction()
