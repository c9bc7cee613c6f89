# Cross build for 32-bit x86 with Debian's i686-linux-gnu cross compiler
# (crossbuild-essential-i386). The binaries run natively on an x86-64 host
# that has the 32-bit C libraries (libc6:i386 and libstdc++6:i386, or
# libc6-i386 and lib32stdc++6).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(cross_triplet i686-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
