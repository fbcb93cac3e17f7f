# What `cmake --install` puts where, and the packages built from it with CPack:
#   Linux:   cmake --build --preset default --target package   (.deb and .tar.gz)
#   Windows: cmake --build --preset mingw --target package     (.zip)

include(GNUInstallDirs)

if(WIN32)
  # A zip to unpack anywhere: the tool and its papers side by side.
  install(TARGETS velmoran RUNTIME DESTINATION .)
  install(FILES README.md LICENSE DESTINATION .)
else()
  install(TARGETS velmoran velmoran-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  foreach(page velmoran.1 velmoran-sim.1)
    configure_file(man/${page}.in man/${page} @ONLY)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/man/${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
  install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
  # Where Debian looks for a package's license.
  install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)
endif()

set(CPACK_PACKAGE_NAME velmoran)
set(CPACK_PACKAGE_VENDOR "The velmoran authors")
# Whoever releases a package may name a contact with an address:
#   cmake --preset default -DCPACK_PACKAGE_CONTACT="Name <address>"
if(NOT CPACK_PACKAGE_CONTACT)
  set(CPACK_PACKAGE_CONTACT "The velmoran authors")
endif()
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "selects a CAN ID for download through a serial CAN interface")
# Lines of at most 80 characters, as Debian's tools show them.
set(CPACK_PACKAGE_DESCRIPTION
  "velmoran sends one request frame to a CAN interface adapter on a serial port
before a firmware download over a CAN bus: a CAN arbitration ID and 0 to 8
data bytes, at 115200 baud 8N1. It waits 11 ms for a one-byte acknowledgment,
prints what it sent and what came back, and exits with a status 0 to 7 that
download scripts act on. velmoran-sim plays the CAN interface on a
pseudo-terminal for rehearsing scripts without hardware.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
else()
  set(CPACK_GENERATOR DEB TGZ)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  # Static programs need nothing; otherwise let dpkg-shlibdeps name the libraries.
  if(NOT VELMORAN_STATIC_LINK)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  endif()
endif()

include(CPack)
