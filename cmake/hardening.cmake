# The protections Linux distributions build their packages with, for every
# target of this build. Each is added only where the compiler and linker take
# it, so that an older or other toolchain still builds:
# - fortified C library calls, which check at run time the sizes of the
#   buffers the compiler can see (level 3 where the compiler and C library
#   have it, else 2), in optimized builds only, as they need optimization;
#   not with the sanitizers, which check those calls themselves;
# - a stack protector for every function with a local array or a local whose
#   address is taken, and probes that keep the stack from jumping past its
#   guard page;
# - control-flow protection: on x86, indirect branch tracking and shadow
#   stack notes; on 64-bit ARM, branch target identification and pointer
#   authentication;
# - relocations made read-only once they are all bound at start-up, and a
#   stack that cannot be executed.
include(CheckCXXCompilerFlag)
include(CheckCXXSourceCompiles)

# Adds those of the compile options that the compiler takes.
function(add_compile_options_taken)
  foreach(option ${ARGN})
    string(MAKE_C_IDENTIFIER "QUENTARO_COMPILER_TAKES${option}" taken)
    check_cxx_compiler_flag(${option} ${taken})
    if(${taken})
      add_compile_options(${option})
    endif()
  endforeach()
endfunction()

# Adds those of the link options that the compiler and linker take.
function(add_link_options_taken)
  foreach(option ${ARGN})
    string(MAKE_C_IDENTIFIER "QUENTARO_LINKER_TAKES${option}" taken)
    set(CMAKE_REQUIRED_LINK_OPTIONS ${option})
    check_cxx_source_compiles("int main() { return 0; }" ${taken})
    if(${taken})
      add_link_options(${option})
    endif()
  endforeach()
endfunction()

if(NOT QUENTARO_SANITIZE)
  set(CMAKE_REQUIRED_FLAGS "-O2 -U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=3")
  check_cxx_source_compiles("#include <cstdio>
#if __USE_FORTIFY_LEVEL < 3
#error fortify level 3 is not available
#endif
int main() { return 0; }" QUENTARO_FORTIFY_LEVEL_3)
  unset(CMAKE_REQUIRED_FLAGS)
  if(QUENTARO_FORTIFY_LEVEL_3)
    set(fortify_level 3)
  else()
    set(fortify_level 2)
  endif()
  # Any level the user's flags set (as dpkg-buildflags does) is replaced.
  set(optimized "$<NOT:$<CONFIG:Debug>>")
  add_compile_options("$<${optimized}:-U_FORTIFY_SOURCE>" "$<${optimized}:-D_FORTIFY_SOURCE=${fortify_level}>")
endif()
add_compile_options_taken(-fstack-protector-strong -fstack-clash-protection)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|i[3-6]86|AMD64)$")
  add_compile_options_taken(-fcf-protection)
elseif(CMAKE_SYSTEM_PROCESSOR STREQUAL "aarch64")
  add_compile_options_taken(-mbranch-protection=standard)
endif()
add_link_options_taken(-Wl,-z,relro,-z,now -Wl,-z,noexecstack)
