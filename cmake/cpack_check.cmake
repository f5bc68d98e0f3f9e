# Read by cpack before it builds a package: a package needs a maintainer who
# answers for it, "Name <address>", taken from the cache variable
# TABFETCH_MAINTAINER.
if(NOT CPACK_DEBIAN_PACKAGE_MAINTAINER MATCHES "^[^<>@]*[^<>@ ] <[^<>@ ]+@[^<>@ ]+\\.[^<>@ ]+>$")
  message(FATAL_ERROR
    "The package has no maintainer (\"${CPACK_DEBIAN_PACKAGE_MAINTAINER}\"). "
    "Set one when configuring, then run cpack again:\n"
    "  cmake -S . -B build -DTABFETCH_MAINTAINER=\"Name <address@example.org>\"\n"
    "  (cd build && cpack -G DEB)")
endif()
