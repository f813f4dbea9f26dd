# What `cpack` packs: what `cmake --install` installs (the program, its desktop entry and its icons, see
# src/), as a Debian package (DEB) with its dependencies computed from the shared libraries the program links.
# On Windows: the settings of the NSIS installer (resources/windows/installer.nsi), which scripts/package.sh
# builds with makensis.
if(WIN32)
  set(_placeholder_define "")
  if(LCLX_PLACEHOLDER_FIRMWARE)
    set(_placeholder_define "!define PLACEHOLDER 1")
  endif()
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/packaging/installer-settings.nsh CONTENT
    "!define VERSION \"${PROJECT_VERSION}\"
!define EXE \"$<TARGET_FILE:lclx_software_updater>\"
!define CLI \"$<TARGET_FILE:lclx_update>\"
${_placeholder_define}
")
  return()
endif()
if(APPLE)
  return()
endif()

include(GNUInstallDirs)
set(_package lclx-software-updater)
set(_summary "Firmware updater for LC and LX bass amplifiers")
set(_description "Brings the firmware of LC and LX bass amplifiers up to date over USB-MIDI.")
if(LCLX_PLACEHOLDER_FIRMWARE)
  set(_package lclx-software-updater-placeholder)
  set(_summary "${_summary} (placeholder firmware)")
  string(APPEND _description "\nTHIS BUILD CARRIES PLACEHOLDER FIRMWARE, NOT THE MAKER'S: it is for trying"
    "\nthe program with a virtual amplifier only, and would leave a real amplifier"
    "\nwithout working firmware.")
endif()

# Debian wants a copyright file and a compressed changelog in the package's documentation folder.
set(_changelog ${CMAKE_BINARY_DIR}/packaging/changelog)
file(CONFIGURE OUTPUT ${_changelog} CONTENT "${_package} (${PROJECT_VERSION}) stable; urgency=medium

  * Release ${PROJECT_VERSION}.

 -- Kestrel Audio Service <service@kestrel-audio.invalid>  Wed, 09 Dec 2026 12:00:00 +0000
")
find_program(GZIP_PROGRAM gzip REQUIRED)
execute_process(COMMAND ${GZIP_PROGRAM} -9nf ${_changelog})
install(FILES ${_changelog}.gz ${CMAKE_SOURCE_DIR}/resources/debian/copyright
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${_package})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${_package})
set(CPACK_PACKAGE_VENDOR "Kestrel Audio")
set(CPACK_PACKAGE_CONTACT "Kestrel Audio Service <service@kestrel-audio.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${_summary}")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "${_description}")
include(CPack)
