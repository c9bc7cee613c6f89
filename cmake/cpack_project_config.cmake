# Read by cpack before it builds a package. dpkg-shlibdeps works out the
# package's Depends from the libraries of the architecture DEB_HOST_ARCH names,
# which would otherwise be the build machine's own; for a cross build they are
# the target's, installed through Debian's multiarch (libc6:i386, libc6:arm64).
if(CPACK_DEBIAN_PACKAGE_ARCHITECTURE)
  set(ENV{DEB_HOST_ARCH} ${CPACK_DEBIAN_PACKAGE_ARCHITECTURE})
endif()
