# The common part of the cross toolchains: Debian's cross compiler for the
# target named by cross_triplet, and where CMake looks for the target's
# libraries, headers and packages, but never for programs: the cross root,
# and the machine's own root, whose multiarch folders hold the target's
# packages of Debian (such as libbenchmark-dev:arm64 in lib/aarch64-linux-gnu).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${cross_triplet}-gcc)
set(CMAKE_CXX_COMPILER ${cross_triplet}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${cross_triplet} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
