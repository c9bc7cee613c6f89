# Cross build for 64-bit ARM with Debian's aarch64-linux-gnu cross compiler
# (crossbuild-essential-arm64). Tests run the binaries under qemu-user
# (qemu-user), with the target's libraries from the cross root.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(cross_triplet aarch64-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /usr/aarch64-linux-gnu)
