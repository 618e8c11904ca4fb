# Install.cmake: where `cmake --install` puts the plug-in, the host, the header and the
# documents, and the Debian package that `cpack -G DEB` makes of them.
#
# Linux layout (GNUInstallDirs, prefix /usr in the package):
#   bin/peerbeacon-host                 the reference host
#   <libdir>/peerbeacon/Peerbeacon.nxl  the plug-in, which the host finds relative to itself
#   include/peerbeacon.h                the host-facing C header
#   share/man/man1/peerbeacon-host.1    the manual page
#   share/doc/peerbeacon/               README and the guide for messenger writers
# On Windows the plug-in goes beside the host, where the Windows host looks first.

include(GNUInstallDirs)
# Debian names a package's document folder after the package, not after the project (and in the
# cross build GoogleTest has already set the default of CMAKE_INSTALL_DOCDIR).
set(PB_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/peerbeacon)

if(WIN32)
  set(PB_INSTALL_PLUGIN_DIR ${CMAKE_INSTALL_BINDIR})
  set(pb_full_plugin_dir ${CMAKE_INSTALL_FULL_BINDIR})
else()
  set(PB_INSTALL_PLUGIN_DIR ${CMAKE_INSTALL_LIBDIR}/peerbeacon)
  set(pb_full_plugin_dir ${CMAKE_INSTALL_FULL_LIBDIR}/peerbeacon)
endif()

# The host looks for the plug-in beside itself first and then here, relative to its own
# folder, so an installed tree works wherever it is unpacked (a DESTDIR, another prefix).
file(RELATIVE_PATH pb_plugin_from_host ${CMAKE_INSTALL_FULL_BINDIR} ${pb_full_plugin_dir})
if(pb_plugin_from_host STREQUAL "")
  set(pb_plugin_from_host ".")
endif()
target_compile_definitions(peerbeacon-host PRIVATE
  PB_INSTALLED_PLUGIN_DIR="${pb_plugin_from_host}")

install(TARGETS peerbeacon-host RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS Peerbeacon LIBRARY DESTINATION ${PB_INSTALL_PLUGIN_DIR})
# peerbeacon.h includes the export list.
install(FILES ${CMAKE_SOURCE_DIR}/include/peerbeacon.h ${CMAKE_SOURCE_DIR}/include/peerbeacon_exports.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${CMAKE_SOURCE_DIR}/docs/peerbeacon-host.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/docs/writing-a-messenger.md
        DESTINATION ${PB_INSTALL_DOCDIR})

# The package.
set(CPACK_PACKAGE_NAME peerbeacon)
set(CPACK_PACKAGE_VENDOR "Peerbeacon")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "LAN messenger network plug-in (multicast presence, TCP memos) and its host")
set(CPACK_PACKAGE_DESCRIPTION
    "Peerbeacon.nxl finds the other users of a desktop LAN messenger on the local network by IP
multicast and carries short messages (memos) to and from them over TCP. It speaks the same
protocol as the Windows build of the plug-in. peerbeacon-host is a terminal messenger around
it; peerbeacon.h is the C header for other programs that load the plug-in.")
set(PB_PACKAGE_MAINTAINER "Peerbeacon maintainers <root@localhost>" CACHE STRING
    "The Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT "${PB_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The run-time libraries (libc, the C++ library, the line-editing library when the host links
# it) are read off the programs by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
