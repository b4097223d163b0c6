# Installation layout and the Debian package.
#
# The driver reads OVIX.INI from the directory of its own executable, so on
# Linux it is installed into a directory of its own, <prefix>/lib/ovixnova,
# with <prefix>/bin/ovixnova a symbolic link to it (Qt resolves the real
# directory through /proc/self/exe). The editable OVIX.INI lives under etc
# (/etc/ovixnova for the /usr prefix of the Debian package, <prefix>/etc/ovixnova
# otherwise) and <prefix>/lib/ovixnova/OVIX.INI links to it.
#
#   cmake --install build                  # /usr/local
#   cpack -G DEB --config build/CPackConfig.cmake -B <dir>   # ovixnova_<version>_amd64.deb
#
# On Windows the executables and a sample OVIX.INI go into the top of the
# install prefix; windeployqt adds the Qt libraries (see README.md).

include(GNUInstallDirs)

set(OVIXNOVA_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

if(UNIX AND NOT APPLE)
  set(OVIXNOVA_PROGRAM_DIR lib/ovixnova)

  install(TARGETS ovixnova RUNTIME DESTINATION ${OVIXNOVA_PROGRAM_DIR})
  install(TARGETS ovixnova-check RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

  # <prefix>/bin/ovixnova -> the executable, as a relative link so that the
  # tree can be moved (DESTDIR, package staging).
  cmake_path(RELATIVE_PATH OVIXNOVA_PROGRAM_DIR BASE_DIRECTORY ${CMAKE_INSTALL_BINDIR}
             OUTPUT_VARIABLE ovixnova_link_dir)
  set(ovixnova_launcher ${CMAKE_CURRENT_BINARY_DIR}/packaging/bin/ovixnova)
  file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/packaging/bin)
  file(CREATE_LINK ${ovixnova_link_dir}/ovixnova ${ovixnova_launcher} SYMBOLIC)
  # install(FILES) copies a symbolic link as a link.
  install(FILES ${ovixnova_launcher} DESTINATION ${CMAKE_INSTALL_BINDIR})

  install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/ovixnova.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps)
  install(FILES ${OVIXNOVA_PACKAGING_DIR}/ovixnova.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

  # Files under etc: where etc is depends on the prefix the install runs with,
  # which cpack sets only at install time, so a script decides it then.
  file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/packaging/install_etc.cmake @ONLY CONTENT [[
# The /usr prefix keeps its configuration in /etc, any other in <prefix>/etc.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(ovixnova_etc "/etc")
else()
  set(ovixnova_etc "${CMAKE_INSTALL_PREFIX}/etc")
endif()

# An OVIX.INI that is there already holds the operator's settings: keep it.
if(EXISTS "$ENV{DESTDIR}${ovixnova_etc}/ovixnova/OVIX.INI")
  message(STATUS "Keeping: $ENV{DESTDIR}${ovixnova_etc}/ovixnova/OVIX.INI")
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${ovixnova_etc}/ovixnova/OVIX.INI")
else()
  file(INSTALL "@OVIXNOVA_PACKAGING_DIR@/OVIX.INI" DESTINATION "${ovixnova_etc}/ovixnova")
endif()

# Started with every desktop session.
file(INSTALL "@OVIXNOVA_PACKAGING_DIR@/ovixnova-autostart.desktop"
     DESTINATION "${ovixnova_etc}/xdg/autostart" RENAME ovixnova.desktop)

# The driver looks for OVIX.INI beside its executable.
set(ovixnova_ini_link "${CMAKE_INSTALL_PREFIX}/@OVIXNOVA_PROGRAM_DIR@/OVIX.INI")
message(STATUS "Installing: $ENV{DESTDIR}${ovixnova_ini_link} -> ${ovixnova_etc}/ovixnova/OVIX.INI")
file(MAKE_DIRECTORY "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/@OVIXNOVA_PROGRAM_DIR@")
file(CREATE_LINK "${ovixnova_etc}/ovixnova/OVIX.INI" "$ENV{DESTDIR}${ovixnova_ini_link}" SYMBOLIC)
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${ovixnova_ini_link}")
]])
  install(SCRIPT ${CMAKE_CURRENT_BINARY_DIR}/packaging/install_etc.cmake)

  # The Debian package: /usr prefix, staged through DESTDIR so that the files
  # under /etc land in the package and not on this machine.
  set(CPACK_GENERATOR DEB)
  set(CPACK_SET_DESTDIR ON)
  set(CPACK_INSTALL_PREFIX /usr)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_PACKAGE_NAME ovixnova)
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGE_VENDOR "OVIXNOVA maintainers")
  set(CPACK_PACKAGE_CONTACT "OVIXNOVA maintainers <maintainers@example.invalid>")
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "OVIXNOVA maintainers <maintainers@example.invalid>")
  set(CPACK_DEBIAN_PACKAGE_SECTION misc)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "print driver for a fiscal cash register on a serial port")
  # The long description, one line each; cpack indents it for the control file.
  string(JOIN "\n" CPACK_DEBIAN_PACKAGE_DESCRIPTION
         "OVIXNOVA lives in the system tray. A point-of-sale program drops each"
         "receipt as a small text file into a spool directory"
         "(/var/spool/ovixnova); the driver sends it to the register over the"
         "serial line, files it into an OK or an error directory and writes an"
         "event log. Settings are in /etc/ovixnova/OVIX.INI.")
  # Depends on the Qt 6 libraries it links, as found by dpkg-shlibdeps.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
      ${OVIXNOVA_PACKAGING_DIR}/debian/conffiles
      ${OVIXNOVA_PACKAGING_DIR}/debian/postinst
      ${OVIXNOVA_PACKAGING_DIR}/debian/postrm)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)

  # Manual pages, the copyright and the changelog, as Debian has them: the man
  # pages and the changelog compressed with gzip -9n (no name, no time stamp,
  # so that the same sources give the same bytes). They are made when CMake
  # runs; a change to one of them runs it again.
  find_program(OVIXNOVA_GZIP gzip REQUIRED)
  set(ovixnova_doc_build_dir ${CMAKE_CURRENT_BINARY_DIR}/packaging/doc)
  function(ovixnova_gzip source target)
    execute_process(COMMAND ${OVIXNOVA_GZIP} -9n -c ${source} OUTPUT_FILE ${target}
                    RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "gzip ${source}: ${status}")
    endif()
  endfunction()

  foreach(page ovixnova.1 ovixnova-check.1)
    configure_file(${OVIXNOVA_PACKAGING_DIR}/man/${page} ${ovixnova_doc_build_dir}/${page} @ONLY)
    ovixnova_gzip(${ovixnova_doc_build_dir}/${page} ${ovixnova_doc_build_dir}/${page}.gz)
    install(FILES ${ovixnova_doc_build_dir}/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()

  # The version has no Debian revision, so the package is a native one, whose
  # Debian changelog is installed as changelog.gz (changelog.Debian.gz belongs
  # to a package of someone else's sources).
  configure_file(${OVIXNOVA_PACKAGING_DIR}/debian/changelog ${ovixnova_doc_build_dir}/changelog
                 @ONLY)
  ovixnova_gzip(${ovixnova_doc_build_dir}/changelog ${ovixnova_doc_build_dir}/changelog.gz)
  install(FILES ${OVIXNOVA_PACKAGING_DIR}/debian/copyright ${ovixnova_doc_build_dir}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR})

  include(CPack)
elseif(WIN32)
  install(TARGETS ovixnova ovixnova-check RUNTIME DESTINATION .)
  # The sample OVIX.INI goes beside the executable unless one is there already.
  install(CODE "set(ovixnova_sample_ini \"${OVIXNOVA_PACKAGING_DIR}/windows/OVIX.INI\")")
  install(CODE [[
if(EXISTS "${CMAKE_INSTALL_PREFIX}/OVIX.INI" AND "$ENV{DESTDIR}" STREQUAL "")
  message(STATUS "Keeping: ${CMAKE_INSTALL_PREFIX}/OVIX.INI")
else()
  file(INSTALL "${ovixnova_sample_ini}" DESTINATION "${CMAKE_INSTALL_PREFIX}")
endif()
]])
endif()
