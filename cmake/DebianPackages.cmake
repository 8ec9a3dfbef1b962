# The Debian packages, made by `cpack -G DEB` from a build configured with
# -DCMAKE_INSTALL_PREFIX=/usr (so that GNUInstallDirs picks the multiarch library folder):
#   kelxml      the shared library (with its SONAME link), the kelxml tool, its man page and
#               bash completion
#   kelxml-dev  the headers, the .so link, the CMake package and the pkg-config file
# Each package's /usr/share/doc/<package>/ holds a machine-readable copyright file and a
# changelog.Debian.gz; they are installed for the packages only (EXCLUDE_FROM_ALL: a component
# install, as CPack does, takes them; a plain `cmake --install` leaves them out).

set(KELXML_PACKAGE_MAINTAINER "The Kel_XML developers <kelxml@example.org>"
    CACHE STRING "Maintainer field of the Debian packages: NAME <EMAIL>")
set(KELXML_DEB_SOURCE kelxml)
set(KELXML_DEB_RELEASE 1)
set(KELXML_DEB_VERSION "${PROJECT_VERSION}-${KELXML_DEB_RELEASE}")
# Honours SOURCE_DATE_EPOCH, so a build from a fixed date repeats byte for byte.
string(TIMESTAMP KELXML_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)

# copyright, in Debian's machine-readable format, from LICENSE: its copyright line and its text.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE kelxml_licence)
if(NOT kelxml_licence MATCHES "Copyright \\(c\\) ([^\n]+)\n+(.*)$")
  message(FATAL_ERROR "LICENSE: no 'Copyright (c) ...' line followed by the licence text")
endif()
set(kelxml_copyright_holder "${CMAKE_MATCH_1}")
string(STRIP "${CMAKE_MATCH_2}" kelxml_licence_text)
string(REGEX REPLACE "\n\n" "\n.\n" kelxml_licence_text "${kelxml_licence_text}")
string(REPLACE "\n" "\n " kelxml_licence_text " ${kelxml_licence_text}")
set(KELXML_DEB_DIR ${PROJECT_BINARY_DIR}/debian)
file(WRITE ${KELXML_DEB_DIR}/copyright
  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
  "Upstream-Name: ${PROJECT_NAME}\n"
  "Upstream-Contact: ${KELXML_PACKAGE_MAINTAINER}\n"
  "\n"
  "Files: *\n"
  "Copyright: ${kelxml_copyright_holder}\n"
  "License: Expat\n"
  "${kelxml_licence_text}\n")
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${KELXML_DEB_DIR}/changelog.Debian @ONLY)
# gzip -9n: no name or time stamp in the archive, as Debian wants.
add_custom_command(OUTPUT ${KELXML_DEB_DIR}/changelog.Debian.gz
  COMMAND gzip -9nkf ${KELXML_DEB_DIR}/changelog.Debian
  DEPENDS ${KELXML_DEB_DIR}/changelog.Debian VERBATIM)
add_custom_target(kelxml_deb_changelog ALL DEPENDS ${KELXML_DEB_DIR}/changelog.Debian.gz)
install(FILES ${KELXML_DEB_DIR}/copyright ${KELXML_DEB_DIR}/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kelxml COMPONENT Runtime EXCLUDE_FROM_ALL)
install(FILES ${KELXML_DEB_DIR}/copyright ${KELXML_DEB_DIR}/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kelxml-dev COMPONENT Development EXCLUDE_FROM_ALL)
# What lintian reports by design (each file says why).
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/kelxml.lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME kelxml
        COMPONENT Runtime EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/kelxml-dev.lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME kelxml-dev
        COMPONENT Development EXCLUDE_FROM_ALL)

set(CPACK_PACKAGE_NAME ${KELXML_DEB_SOURCE})
# CPack's default summary: with it, each package's synopsis is the first line of its own
# description below (any other summary would be put before both).
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
set(CPACK_PACKAGE_VENDOR "The Kel_XML developers")
set(CPACK_PACKAGE_CONTACT "${KELXML_PACKAGE_MAINTAINER}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL Runtime Development)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${KELXML_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SOURCE ${KELXML_DEB_SOURCE})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME kelxml)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION text)
# dpkg runs ldconfig once after installing or removing libraries (the trigger); CPack writes
# postinst and postrm scripts calling it unless the package brings its own, which do nothing.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/triggers
    ${CMAKE_CURRENT_LIST_DIR}/debian/postinst ${CMAKE_CURRENT_LIST_DIR}/debian/postrm)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION
    "C++ XML library over Xerces-C++, and the kelxml tool
Kel_XML is a string-based convenience layer over the Xerces-C++ DOM parser:
loading with bounded resources, reading and editing by path, XPath 1.0,
canonical XML and streaming walks over large documents.
.
This package holds the shared library and the kelxml command-line tool, which
checks, queries, edits and reformats XML documents.")
# The run-time dependencies as dpkg-shlibdeps (dpkg-dev) finds them, else the one we know. The
# tool's own library is found in the build folder (it is in the same package).
find_program(KELXML_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(KELXML_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
else()
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "libxerces-c3.2, libstdc++6, libgcc-s1, libc6")
endif()
# A shlibs file, so that packages built against the library depend on this version or later.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME kelxml-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
# The public headers include the Xerces-C++ headers.
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "kelxml (= ${KELXML_DEB_VERSION}), libxerces-c-dev")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
    "C++ XML library over Xerces-C++ (development files)
Kel_XML is a string-based convenience layer over the Xerces-C++ DOM parser:
loading with bounded resources, reading and editing by path, XPath 1.0,
canonical XML and streaming walks over large documents.
.
This package holds the headers, the CMake package (find_package(KelXML)) and
the pkg-config file (kelxml).")
include(CPack)
