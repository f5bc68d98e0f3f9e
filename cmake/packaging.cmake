# Installation of the manual pages and the Debian package (cpack -G DEB).
# The programs install themselves (run/, admin/); this adds tabfetch(1) and
# tabfetch-admin(1) and describes the package.
include(GNUInstallDirs)

set(TABFETCH_MAN_PAGES
    ${PROJECT_SOURCE_DIR}/man/tabfetch.1
    ${PROJECT_SOURCE_DIR}/man/tabfetch-admin.1)

# Debian installs manual pages compressed (gzip -9n: no name or time stamp,
# so that builds are reproducible). Without gzip they go in as they are.
find_program(TABFETCH_GZIP gzip)
if(TABFETCH_GZIP)
  set(man_outputs)
  foreach(page ${TABFETCH_MAN_PAGES})
    get_filename_component(name ${page} NAME)
    set(out ${PROJECT_BINARY_DIR}/man/${name}.gz)
    add_custom_command(
      OUTPUT ${out}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
      COMMAND ${TABFETCH_GZIP} -9n -c ${page} > ${out}
      DEPENDS ${page}
      COMMENT "Compressing manual page ${name}"
      VERBATIM)
    list(APPEND man_outputs ${out})
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${man_outputs})
  install(FILES ${man_outputs} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  install(FILES ${TABFETCH_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# The package's maintainer, "Name <address>", set by whoever builds the
# package: cmake -DTABFETCH_MAINTAINER="Erika Muster <erika@example.org>".
# cpack stops without it (cmake/cpack_check.cmake).
set(TABFETCH_MAINTAINER "" CACHE STRING
    "Maintainer of the Debian package: \"Name <address>\"")

# The Debian revision of the package: 1.0.0-1.
set(TABFETCH_DEBIAN_REVISION 1)

# /usr/share/doc/tabfetch: the copyright file (machine-readable format) and
# changelog.Debian.gz, whose entry names the maintainer. Its date is fixed
# per version so that builds are reproducible.
set(TABFETCH_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/tabfetch)
install(FILES ${PROJECT_SOURCE_DIR}/cmake/copyright DESTINATION ${TABFETCH_DOC_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/cmake/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
        RENAME tabfetch)
set(TABFETCH_CHANGELOG_MAINTAINER "${TABFETCH_MAINTAINER}")
if(TABFETCH_CHANGELOG_MAINTAINER STREQUAL "")
  set(TABFETCH_CHANGELOG_MAINTAINER "unset <unset@invalid>")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/changelog.Debian.in
               ${PROJECT_BINARY_DIR}/changelog.Debian @ONLY)
if(TABFETCH_GZIP)
  add_custom_command(
    OUTPUT ${PROJECT_BINARY_DIR}/changelog.Debian.gz
    COMMAND ${TABFETCH_GZIP} -9n -c ${PROJECT_BINARY_DIR}/changelog.Debian
            > ${PROJECT_BINARY_DIR}/changelog.Debian.gz
    DEPENDS ${PROJECT_BINARY_DIR}/changelog.Debian
    COMMENT "Compressing changelog.Debian"
    VERBATIM)
  add_custom_target(debian_changelog ALL
                    DEPENDS ${PROJECT_BINARY_DIR}/changelog.Debian.gz)
  install(FILES ${PROJECT_BINARY_DIR}/changelog.Debian.gz
          DESTINATION ${TABFETCH_DOC_DIR})
endif()

set(CPACK_PACKAGE_NAME tabfetch)
set(CPACK_PACKAGE_VENDOR "PALVENTRA")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${TABFETCH_DEBIAN_REVISION})
# Installed binaries are stripped; the debug symbols stay in the build.
set(CPACK_STRIP_FILES ON)
# Checks the maintainer when cpack runs.
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/cpack_check.cmake)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "run a configured SQL query and write a fixed-width extract file")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_PACKAGE_NAME tabfetch)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # tabfetch_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TABFETCH_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
# The long description, below the summary line; CPack indents its lines.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "tabfetch runs one SQL query, configured as a section of an INI file,
against a MariaDB or MySQL database and writes the result rows, each
formatted as one fixed-width text record and sorted byte-wise, to an
extract file for a named terminal.
.
tabfetch-admin shows what tabfetch will do: it enciphers and deciphers
settings values, explains which settings record a lookup finds, checks
query definitions for silent pitfalls and shows extract files as tables
or CSV.")
# The library dependencies as dpkg-shlibdeps finds them in the binaries;
# without it, the client library and the C++ runtime by name.
find_program(TABFETCH_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(TABFETCH_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libmariadb3, libc6, libstdc++6, libgcc-s1")
endif()

include(CPack)
