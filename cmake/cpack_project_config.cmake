# Read by cpack before it builds a package. dpkg-shlibdeps works out the
# package's Depends from the libraries of the architecture DEB_HOST_ARCH names,
# which would otherwise be the build machine's own; for a cross build they are
# the target's, installed through Debian's multiarch (libc6:i386, libc6:arm64).
if(CPACK_DEBIAN_PACKAGE_ARCHITECTURE)
  set(ENV{DEB_HOST_ARCH} ${CPACK_DEBIAN_PACKAGE_ARCHITECTURE})
endif()

# Every file in the package is stamped with the time of the newest entry of
# the changelog, as Debian's own builds do, so that packages built from the
# same sources are the same, byte for byte, wherever and whenever they are
# built. A SOURCE_DATE_EPOCH set by the user is kept.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND dpkg-parsechangelog -l ${CPACK_QUENTARO_CHANGELOG} -STimestamp
                  OUTPUT_VARIABLE changelog_time OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR NOT changelog_time MATCHES "^[0-9]+$")
    message(FATAL_ERROR "cannot read the time of the newest entry of ${CPACK_QUENTARO_CHANGELOG}")
  endif()
  set(ENV{SOURCE_DATE_EPOCH} ${changelog_time})
endif()
