# What `cmake --install` puts where, and the Debian package that `cpack -G DEB` makes of it.
# The sources are in packaging/ (desktop entry, icon, copyright, changelog), docs/man/ (manual
# pages), tools/ (SQL schema, demo agency tool).
include(GNUInstallDirs)

# The folders that an install makes get the installer's umask (CMake applies it even to
# CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS), so scripts/package runs cpack with umask 022:
# a package's folders are 0755.

# The package's version is the project's; the changelog's newest entry must say the same, or
# the package would describe another version than it holds.
file(STRINGS ${CMAKE_SOURCE_DIR}/packaging/changelog quillmere_changelog_head LIMIT_COUNT 1)
if(NOT quillmere_changelog_head MATCHES "^quillmere \\(([^)]+)\\) ")
  message(FATAL_ERROR "packaging/changelog: the first line is not a Debian changelog entry "
                      "of quillmere: ${quillmere_changelog_head}")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "packaging/changelog is at version ${CMAKE_MATCH_1}, the project at "
                      "${PROJECT_VERSION}: add a changelog entry for ${PROJECT_VERSION}")
endif()

# Manual pages and the changelog are installed gzipped, as Debian has them; -n keeps the name
# and time out of the archive, so the same text gives the same bytes.
find_program(QUILLMERE_GZIP gzip REQUIRED)
function(quillmere_gzip source output)
  get_filename_component(plain ${output} NAME_WLE)
  get_filename_component(dir ${output} DIRECTORY)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${dir}/${plain}
    COMMAND ${QUILLMERE_GZIP} -9nf ${dir}/${plain}
    DEPENDS ${source}
    COMMENT "Compressing ${plain}"
    VERBATIM)
endfunction()

file(GLOB quillmere_man_pages CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/man/*.1)
set(quillmere_man_gz)
foreach(page ${quillmere_man_pages})
  get_filename_component(name ${page} NAME)
  quillmere_gzip(${page} ${CMAKE_BINARY_DIR}/man/man1/${name}.gz)
  list(APPEND quillmere_man_gz ${CMAKE_BINARY_DIR}/man/man1/${name}.gz)
endforeach()
quillmere_gzip(${CMAKE_SOURCE_DIR}/packaging/changelog ${CMAKE_BINARY_DIR}/doc/changelog.gz)
add_custom_target(quillmere_docs ALL DEPENDS ${quillmere_man_gz} ${CMAKE_BINARY_DIR}/doc/changelog.gz)

install(TARGETS quillmere quillmere-cli quillmere-recfile RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${quillmere_man_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES packaging/quillmere.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES packaging/icons/quillmere.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
file(GLOB quillmere_icon_sizes RELATIVE ${CMAKE_SOURCE_DIR}/packaging/icons
     ${CMAKE_SOURCE_DIR}/packaging/icons/*x*)
foreach(size ${quillmere_icon_sizes})
  install(FILES packaging/icons/${size}/quillmere.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}/apps)
endforeach()
install(FILES tools/sql/schema.sql DESTINATION ${CMAKE_INSTALL_DATADIR}/quillmere/sql)
# Installed as a plain file, run as `python3 .../make_demo_agency.py OUTDIR`: the demo is an
# extra, so the package suggests python3 instead of depending on it.
install(FILES tools/demo/make_demo_agency.py DESTINATION ${CMAKE_INSTALL_DATADIR}/quillmere/demo)
install(FILES packaging/copyright ${CMAKE_BINARY_DIR}/doc/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillmere)
set(CPACK_PACKAGE_VENDOR "The Quillmere developers")
# A placeholder: the address to write to about the package, to be set before it is published.
set(CPACK_PACKAGE_CONTACT "Quillmere developers <dev@quillmere.example>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "opening balance import for insurance agency accounting")
# Lines of at most 80 characters, as Debian's package tools show them.
set(CPACK_PACKAGE_DESCRIPTION
    "Quillmere moves an insurance agency's opening balances from a balance sheet
CSV into the agency's accounting system: its keyed record files and its MySQL
Policy table. It checks every row against the agency's master data first and
posts only a file without errors. It also writes the agency's GL chart as a
CSV template in the same layout, ready to be filled in.

The package holds the desktop program quillmere, quillmere-cli for the same
work in scripts, and quillmere-recfile, a maintenance tool for the record
files. The SQL schema of the Agency and Policy tables and a tool that makes a
demo agency are in /usr/share/quillmere.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # quillmere_<version>_<arch>.deb
# dpkg-shlibdeps finds the shared libraries the programs link (Qt, SQLite, MariaDB's client);
# Qt loads its MySQL driver only at run time, so that one is named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-mysql")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)
include(CPack)
