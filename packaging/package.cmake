# `make package`: a .deb laid out under the prefix the binary was built for,
# so the packaged program finds the packaged filter. Debian wants three
# files a plain install does without: the copyright in its machine-readable
# form, the changelog, and the manual page compressed. They make up the
# component "debian", which only the package installs, with the package's
# lintian overrides.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME drifterm)
set(CPACK_PACKAGE_VENDOR "Vornhallow")
set(CPACK_PACKAGE_CONTACT "drifterm authors <drifterm@vornhallow.org>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "scroll a text past the reader at a steady pace")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "drifterm moves a document up the terminal one line at a time, at a set
number of milliseconds per line, so that it can be read hands-free.
Single keys pause, change the pace, hide the status bar or open the file
in an editor. E-books (EPUB, FictionBook), office documents (DOCX, ODT,
RTF), HTML, PDF files, manual pages, compressed files and text in any
character set are turned into plain text by the bundled input filter and
its converter, drifterm-convert, which also serves as a filter for a
pager.")
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
# The Debian revision: the version of the packaging of this release.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION text)
# Depends comes from the libraries the program and the converter link
# (ncurses; libxml2, libzip, uchardet), through dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The programs the filter and the converter run; without one its format
# gets a line saying what to install. gzip and coreutils (fmt) are
# essential and go unnamed.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "poppler-utils, bzip2, xz-utils, zstd, \
man-db | mandoc, groff-base, bsdextrautils, antiword, catdoc")
# PostScript is read only where ghostscript happens to be installed.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "ghostscript")
set(CPACK_STRIP_FILES ON)

# One package of the default component and "debian"; the plain manual page
# is left to `make install`.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL Unspecified debian)

set(debian_dir "${CMAKE_BINARY_DIR}/debian")

# The copyright file in the format of copyright-format 1.0, from LICENSE:
# its terms after the copyright line, indented, with "." for blank lines.
file(READ "${PROJECT_SOURCE_DIR}/LICENSE" license)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" ignored "${license}")
set(copyright_holders "${CMAKE_MATCH_1}")
string(REGEX REPLACE "^[^\n]*\n\nCopyright[^\n]*\n\n" "" terms "${license}")
string(STRIP "${terms}" terms)
string(REPLACE "\n\n" "\n.\n" terms "${terms}")
string(REPLACE "\n" "\n " terms "${terms}")
file(WRITE "${debian_dir}/copyright"
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: drifterm
Upstream-Contact: ${CPACK_PACKAGE_CONTACT}

Files: *
Copyright: ${copyright_holders}
License: BSD-2-clause
 ${terms}
")

# The changelog's latest entry is the package's version.
file(STRINGS "${PROJECT_SOURCE_DIR}/packaging/changelog" changelog_top LIMIT_COUNT 1)
set(package_version "${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}")
if(NOT changelog_top MATCHES "^drifterm \\(${package_version}\\) ")
  message(WARNING "packaging/changelog does not begin with an entry for ${package_version}")
endif()

# Compressed as Debian's tools do: the most, with no name or time inside.
find_program(GZIP_PROGRAM gzip)
if(NOT GZIP_PROGRAM)
  message(FATAL_ERROR "gzip is needed to compress the package's manual page and changelog")
endif()
set(debian_gzipped "${debian_dir}/drifterm.1.gz" "${debian_dir}/changelog.Debian.gz")
add_custom_command(OUTPUT ${debian_gzipped}
  COMMAND ${CMAKE_COMMAND} -E copy "${PROJECT_SOURCE_DIR}/doc/drifterm.1" "${debian_dir}/drifterm.1"
  COMMAND ${CMAKE_COMMAND} -E copy "${PROJECT_SOURCE_DIR}/packaging/changelog"
          "${debian_dir}/changelog.Debian"
  COMMAND ${GZIP_PROGRAM} -9nf "${debian_dir}/drifterm.1" "${debian_dir}/changelog.Debian"
  DEPENDS "${PROJECT_SOURCE_DIR}/doc/drifterm.1" "${PROJECT_SOURCE_DIR}/packaging/changelog"
  VERBATIM)
add_custom_target(debian_files ALL DEPENDS ${debian_gzipped})

install(FILES "${debian_dir}/drifterm.1.gz" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
  COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES "${debian_dir}/copyright" "${debian_dir}/changelog.Debian.gz"
  DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES "${PROJECT_SOURCE_DIR}/packaging/lintian-overrides"
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME drifterm
  COMPONENT debian EXCLUDE_FROM_ALL)

include(CPack)
