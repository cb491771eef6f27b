# The Windows installer (cpack -G NSIS in a Windows build, scripts/test-windows.sh):
# zocfg-setup.exe puts zocfg.exe, VERSION.DAT and the README as text into
# "C:\Program Files\ZO configure" and registers an uninstaller. Debian's nsis builds it.

install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION . RENAME README.txt)
configure_file(${ZO_PACKAGE_DIR}/copyright ${CMAKE_BINARY_DIR}/package/LICENSE.txt COPYONLY)

set(CPACK_GENERATOR NSIS)
set(CPACK_PACKAGE_NAME "ZO configure")
set(CPACK_PACKAGE_VENDOR "Tarnelo Energy")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Configures inverter and charger devices through a DL1 or DL2 adapter")
set(CPACK_PACKAGE_FILE_NAME zocfg-setup)
set(CPACK_PACKAGE_INSTALL_DIRECTORY "ZO configure")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_BINARY_DIR}/package/LICENSE.txt)
set(CPACK_STRIP_FILES ON)
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_DISPLAY_NAME "ZO configure ${PROJECT_VERSION}")
set(CPACK_NSIS_PACKAGE_NAME "ZO configure")
set(CPACK_NSIS_CONTACT "support@tarnelo.example")
set(CPACK_NSIS_URL_INFO_ABOUT "https://www.tarnelo.example/")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
# A 64-bit installer, like the program it installs (NSIS makes 32-bit ones by default, which a
# Windows without its 32-bit part, or a 64-bit Wine, cannot start).
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
include(CPack)
