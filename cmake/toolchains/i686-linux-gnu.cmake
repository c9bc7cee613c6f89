# Cross build for 32-bit x86 with Debian's i686-linux-gnu cross compiler
# (crossbuild-essential-i386). Tests run the binaries natively where this
# machine runs 32-bit x86 programs: its kernel does, and the 32-bit C
# libraries are installed (libc6:i386 and libstdc++6:i386, or libc6-i386 and
# lib32stdc++6). Elsewhere they run under qemu-i386 (qemu-user), with the
# target's libraries from the cross root; -cpu max gives the emulated CPU
# AVX2, so that path is tested too. -DQUENTARO_I686_EMULATED=ON or OFF
# overrides the check.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(cross_triplet i686-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)

# The 32-bit C library's loader is itself a 32-bit program: it runs only where
# the kernel runs such programs, and exists only where that library is
# installed. A kernel without 32-bit support refuses it ("Exec format error").
if(NOT DEFINED CACHE{QUENTARO_I686_EMULATED})
  execute_process(COMMAND /lib/ld-linux.so.2 --version RESULT_VARIABLE loader_status OUTPUT_QUIET ERROR_QUIET)
  if(loader_status EQUAL 0)
    set(QUENTARO_I686_EMULATED OFF CACHE BOOL "Run the 32-bit tests under qemu-i386")
  else()
    set(QUENTARO_I686_EMULATED ON CACHE BOOL "Run the 32-bit tests under qemu-i386")
  endif()
endif()
if(QUENTARO_I686_EMULATED)
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386 -cpu max -L /usr/${cross_triplet})
endif()
