# What `cmake --install` puts where, and the packages built from it with CPack:
#   Linux:   cmake --build --preset default --target package   (.deb and .tar.gz; the
#            arm64 and armhf presets build theirs the same way)
#   Windows: cmake --build --preset mingw --target package     (.zip; the build itself
#            makes the .msi beside it, where msitools are installed)
#
# On Linux the install has two components. `debian`: the .deb, with programs linked
# against the system's libraries and stripped, compressed man pages, a changelog and a
# machine-readable copyright, as Debian's policy asks. `portable`: the tarball that a
# user of any distribution unpacks, with the programs as this build links them
# (statically, with the presets) and plain man pages.

include(GNUInstallDirs)

# The packages hold the same bytes wherever and whenever they are made: every time in them
# is SOURCE_DATE_EPOCH where it is set (scripts/release.sh sets it; CPack writes it into the
# .deb), folders are 755 whatever the umask (cmake/staging-modes.cmake; files have their
# modes from install()), and the packages' archives are written again after CPack, sorted
# and with fixed headers (cmake/reproducible-packages.cmake).

# The project has no address to give. Whoever releases a package names a contact
# with one: cmake --preset default -DCPACK_PACKAGE_CONTACT="Name <address>"
if(NOT CPACK_PACKAGE_CONTACT)
  set(CPACK_PACKAGE_CONTACT "The velmoran authors")
endif()
set(VELMORAN_CONTACT "${CPACK_PACKAGE_CONTACT}")

if(WIN32)
  # A zip to unpack anywhere: the tool, the stand-in device, the download examples, the
  # FTDI latency script and the papers side by side.
  install(TARGETS velmoran velmoran-sim RUNTIME DESTINATION .)
  install(FILES README.md LICENSE examples/download.bat examples/ftdi-latency.bat DESTINATION .)
  install(PROGRAMS examples/download.sh DESTINATION .)

  # The MSI that IT departments deploy to managed PCs: velmoran-VERSION-x64.msi, per
  # machine, on the system PATH (packaging/velmoran.wxs). Built with msitools (Debian's
  # wixl and msitools packages) wherever they are installed.
  find_program(VELMORAN_WIXL wixl)
  find_program(VELMORAN_MSIBUILD msibuild)
  if(VELMORAN_WIXL AND VELMORAN_MSIBUILD)
    set(msi ${CMAKE_BINARY_DIR}/velmoran-${PROJECT_VERSION}-x64.msi)
    set(msi_files ${CMAKE_BINARY_DIR}/msi-files)
    add_custom_command(OUTPUT ${msi}
      COMMAND ${CMAKE_COMMAND} -E rm -rf ${msi_files}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${msi_files}/examples
      COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:velmoran> $<TARGET_FILE:velmoran-sim> README.md LICENSE ${msi_files}/
      COMMAND ${CMAKE_COMMAND} -E copy examples/download.bat examples/download.sh examples/ftdi-latency.bat
        ${msi_files}/examples/
      COMMAND packaging/build-msi.sh ${msi} ${PROJECT_VERSION} ${msi_files}
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
      DEPENDS velmoran velmoran-sim README.md LICENSE examples/download.bat examples/download.sh
        examples/ftdi-latency.bat
        packaging/build-msi.sh packaging/velmoran.wxs packaging/msi-environment.idt
      VERBATIM)
    add_custom_target(msi ALL DEPENDS ${msi})
  else()
    message(STATUS "No MSI: it is built with wixl and msibuild (Debian packages wixl and msitools)")
  endif()
else()
  # The packages build what they hold, and only that: `package` does not build the whole
  # tree first (its cross-builds and tests, which CPack would otherwise build again for
  # each package), and the install builds the programs, man pages and papers it installs,
  # so that a package never holds a stale program.
  set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
  foreach(component debian portable)
    install(CODE "execute_process(COMMAND \"${CMAKE_COMMAND}\" --build \"${CMAKE_BINARY_DIR}\"
        --target velmoran_package_contents RESULT_VARIABLE built)
      if(NOT built EQUAL 0)
        message(FATAL_ERROR \"velmoran: building what the packages hold failed\")
      endif()" COMPONENT ${component})
  endforeach()

  # The .deb's programs, from the same libraries, linked as Debian links programs.
  add_executable(velmoran-deb)
  target_link_libraries(velmoran-deb PRIVATE velmoran_program)
  add_executable(velmoran-sim-deb)
  target_link_libraries(velmoran-sim-deb PRIVATE velmoran_sim_program)
  set_target_properties(velmoran-deb PROPERTIES OUTPUT_NAME velmoran)
  set_target_properties(velmoran-sim-deb PROPERTIES OUTPUT_NAME velmoran-sim)
  set_target_properties(velmoran-deb velmoran-sim-deb PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/deb)

  # Compressed as Debian wants them: the best compression, and no name or time stamp
  # in the header, so that the same source gives the same package.
  function(velmoran_gzip source output)
    add_custom_command(OUTPUT ${output}
      COMMAND sh -c "gzip -9n -c \"$0\" >\"$1\"" ${source} ${output}
      DEPENDS ${source} VERBATIM)
  endfunction()

  set(gzipped)
  foreach(page velmoran.1 velmoran-sim.1)
    configure_file(man/${page}.in man/${page} @ONLY)
    set(plain ${CMAKE_CURRENT_BINARY_DIR}/man/${page})
    velmoran_gzip(${plain} ${plain}.gz)
    list(APPEND gzipped ${plain}.gz)
    install(FILES ${plain} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT portable)
    install(FILES ${plain}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT debian)
  endforeach()

  # The changelog's newest entry must be this version's. Its entries are signed by the
  # package's contact, with an empty address where none was given.
  file(STRINGS packaging/changelog.in newest LIMIT_COUNT 1)
  if(NOT newest MATCHES "^velmoran \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "packaging/changelog.in begins with '${newest}': add an entry for ${PROJECT_VERSION}")
  endif()
  set(VELMORAN_CHANGELOG_SIGNER "${VELMORAN_CONTACT}")
  if(NOT VELMORAN_CONTACT MATCHES "<.*>")
    string(APPEND VELMORAN_CHANGELOG_SIGNER " <>")
  endif()
  configure_file(packaging/changelog.in changelog @ONLY)
  velmoran_gzip(${CMAKE_CURRENT_BINARY_DIR}/changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
  list(APPEND gzipped ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
  add_custom_target(velmoran_gzipped_papers ALL DEPENDS ${gzipped})
  add_custom_target(velmoran_package_contents)
  add_dependencies(velmoran_package_contents velmoran velmoran-sim velmoran-deb velmoran-sim-deb
    velmoran_gzipped_papers)

  install(TARGETS velmoran velmoran-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT portable)
  install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT portable)
  # Where Debian puts a package's examples, in both packages.
  foreach(component portable debian)
    install(FILES examples/download.bat examples/download.sh DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples
      COMPONENT ${component})
  endforeach()
  install(TARGETS velmoran-deb velmoran-sim-deb RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT debian)
  install(FILES README.md packaging/copyright ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT debian)
endif()

set(CPACK_PACKAGE_NAME velmoran)
set(CPACK_PACKAGE_VENDOR "The velmoran authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "selects a CAN ID for download through a serial CAN interface")
# Lines of at most 80 characters, as Debian's tools show them.
set(CPACK_PACKAGE_DESCRIPTION
  "velmoran sends one request frame to a CAN interface adapter on a serial port
before a firmware download over a CAN bus: a CAN arbitration ID and 0 to 8
data bytes, at 115200 baud 8N1. It waits 11 ms for a one-byte acknowledgment,
prints what it sent and what came back, and exits with a status 0 to 7 that
download scripts act on. velmoran-sim plays the CAN interface on one end of a
null-modem pair of ports, or on a pseudo-terminal, for rehearsing scripts
without hardware.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
else()
  # Debian's names for the architectures built here.
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
    set(VELMORAN_DEB_ARCH arm64)
  elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^arm")
    set(VELMORAN_DEB_ARCH armhf)
  elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
    set(VELMORAN_DEB_ARCH amd64)
  else()
    set(VELMORAN_DEB_ARCH ${CMAKE_SYSTEM_PROCESSOR})
  endif()
  set(CPACK_GENERATOR DEB TGZ)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${VELMORAN_DEB_ARCH})
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # Each generator packs its own component.
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_BINARY_DIR}/cpack-components.cmake)
  file(WRITE ${CPACK_PROJECT_CONFIG_FILE} "\
if(CPACK_GENERATOR STREQUAL \"DEB\")
  set(CPACK_COMPONENTS_ALL debian)
else()
  set(CPACK_COMPONENTS_ALL portable)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_PACKAGE_FILE_NAME \"velmoran-${PROJECT_VERSION}-linux-${VELMORAN_DEB_ARCH}\")
endif()
")
endif()

set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/staging-modes.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/reproducible-packages.cmake)

include(CPack)
