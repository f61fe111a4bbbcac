# The Windows release: the three programs with exactly the Qt and compiler
# run-time files they load, as an NSIS installer (cpack -G NSIS) and a
# portable zip (cpack -G ZIP), both named lbxconfig-VERSION-win64.

# Qt's libraries and plug-ins: Core and Network for all three programs, Gui and
# Widgets and the windows platform plug-in for the window, and the Vista style
# so that it looks like a Windows program.
get_target_property(lbx_qt_core Qt5::Core IMPORTED_LOCATION_RELEASE)
get_filename_component(lbx_qt_bin ${lbx_qt_core} DIRECTORY)
get_filename_component(lbx_qt_prefix ${lbx_qt_bin} DIRECTORY)
install(FILES ${lbx_qt_bin}/Qt5Core.dll ${lbx_qt_bin}/Qt5Network.dll ${lbx_qt_bin}/Qt5Gui.dll
        ${lbx_qt_bin}/Qt5Widgets.dll DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${lbx_qt_prefix}/plugins/platforms/qwindows.dll DESTINATION ${CMAKE_INSTALL_BINDIR}/platforms)
install(FILES ${lbx_qt_prefix}/plugins/styles/qwindowsvistastyle.dll DESTINATION ${CMAKE_INSTALL_BINDIR}/styles)

# The compiler's run-time libraries, which the programs and Qt load.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++-6.dll
    OUTPUT_VARIABLE lbx_libstdcxx OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libgcc_s_seh-1.dll
    OUTPUT_VARIABLE lbx_libgcc OUTPUT_STRIP_TRAILING_WHITESPACE)
find_file(lbx_winpthread libwinpthread-1.dll PATHS /usr/x86_64-w64-mingw32/lib NO_DEFAULT_PATH)
install(FILES ${lbx_libstdcxx} ${lbx_libgcc} ${lbx_winpthread} DESTINATION ${CMAKE_INSTALL_BINDIR})

set(CPACK_GENERATOR NSIS ZIP)
set(CPACK_PACKAGE_NAME lbxconfig)
set(CPACK_PACKAGE_VENDOR "LBXConfig")
set(CPACK_PACKAGE_FILE_NAME lbxconfig-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY LBXConfig)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Finds LBX RS-485-to-network protocol converters and sets them up")
set(CPACK_PACKAGE_EXECUTABLES lbxconfig LBXConfig)
set(CPACK_STRIP_FILES ON)
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/data/lbxconfig.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/data/lbxconfig.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME bin\\\\lbxconfig.exe)
set(CPACK_NSIS_DISPLAY_NAME LBXConfig)
set(CPACK_NSIS_PACKAGE_NAME LBXConfig)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
# A 64-bit installer for the 64-bit programs: it runs wherever they run.
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
# The converters answer to the port the request left from: let UDP in to the
# two programs that ask them, and take the rules away on uninstall.
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS "
  nsExec::Exec 'netsh advfirewall firewall add rule name=\\\"LBXConfig\\\" dir=in action=allow protocol=UDP program=\\\"$INSTDIR\\\\bin\\\\lbxconfig.exe\\\" enable=yes'
  nsExec::Exec 'netsh advfirewall firewall add rule name=\\\"LBXConfig lbxctl\\\" dir=in action=allow protocol=UDP program=\\\"$INSTDIR\\\\bin\\\\lbxctl.exe\\\" enable=yes'
")
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS "
  nsExec::Exec 'netsh advfirewall firewall delete rule name=\\\"LBXConfig\\\"'
  nsExec::Exec 'netsh advfirewall firewall delete rule name=\\\"LBXConfig lbxctl\\\"'
")
include(CPack)
