# The Debian package (scripts/package.sh): the programs with VERSION.DAT in lib/zoconfigure and a
# link to each in bin/ (zo_install_program), their manual pages, the bash completion of zocfg,
# the desktop entry with its icons and AppStream metadata, and the package's copyright and
# changelog.

set(ZO_PACKAGE_DIR ${CMAKE_CURRENT_LIST_DIR})
if(WIN32)
  include(${ZO_PACKAGE_DIR}/PackageWindows.cmake)
  return()
endif()
set(ZO_GENERATED_DOCS ${CMAKE_BINARY_DIR}/package)
file(MAKE_DIRECTORY ${ZO_GENERATED_DOCS})

# Manual pages and the changelog are installed compressed, as Debian wants them: gzip -9n keeps
# no name or time stamp, so the package is the same from one build to the next.
set(ZO_COMPRESSED)
function(zo_compressed source name)
  configure_file(${source} ${ZO_GENERATED_DOCS}/${name} @ONLY)
  add_custom_command(
    OUTPUT ${ZO_GENERATED_DOCS}/${name}.gz
    COMMAND gzip -9nf -k ${ZO_GENERATED_DOCS}/${name}
    DEPENDS ${ZO_GENERATED_DOCS}/${name}
    COMMENT "Compressing ${name}")
  set(ZO_COMPRESSED ${ZO_COMPRESSED} ${ZO_GENERATED_DOCS}/${name}.gz PARENT_SCOPE)
endfunction()
foreach(page zocfg zo-sim zoconfigure)
  zo_compressed(${CMAKE_SOURCE_DIR}/docs/man/${page}.1 ${page}.1)
endforeach()
zo_compressed(${ZO_PACKAGE_DIR}/changelog.in changelog)
add_custom_target(zo_package_docs ALL DEPENDS ${ZO_COMPRESSED})

foreach(page zocfg zo-sim)
  install(FILES ${ZO_GENERATED_DOCS}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
if(TARGET zoconfigure)
  install(FILES ${ZO_GENERATED_DOCS}/zoconfigure.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
install(FILES ${CMAKE_SOURCE_DIR}/cli/zocfg.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME zocfg)
install(FILES ${ZO_PACKAGE_DIR}/copyright ${ZO_GENERATED_DOCS}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zoconfigure)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zoconfigure)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CONTACT "Tarnelo Energy <support@tarnelo.example>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Tarnelo Energy <support@tarnelo.example>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.tarnelo.example/")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
# The first line is the short description, the rest the long one; CPack puts the space before each
# line of it that the control file wants, and "." stands for an empty line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "configure inverter and charger devices through a DL1 or DL2 adapter
ZO configure is the configuration program for Corvane inverter and charger
devices. A technician connects a serial port, through a DL1 or DL2
interface adapter, to a device's bus. The program finds the adapter, reads
the device's software version and every setting adapted to that version,
lets the user change them within bounds and sends them back, polls seven
live values, saves and loads settings files, draws the charge curve, and
reprograms the DL2 adapter's firmware.
.
The package holds the window (zoconfigure), the command-line program
(zocfg) and a simulated adapter on a pseudo-terminal for trying both
without hardware (zo-sim).")
include(CPack)
