# The Windows release: the three programs with exactly the Qt and compiler
# run-time files they load, as an NSIS installer (cpack -G NSIS) and a
# portable zip (cpack -G ZIP), both named lbxconfig-VERSION-win64.

# Qt's libraries and plug-ins: Core and Network for all three programs, Gui and
# Widgets and the windows platform plug-in for the window, and the Vista style
# so that it looks like a Windows program.
get_target_property(lbx_qt_core Qt5::Core IMPORTED_LOCATION_RELEASE)
get_filename_component(lbx_qt_bin ${lbx_qt_core} DIRECTORY)
get_filename_component(lbx_qt_prefix ${lbx_qt_bin} DIRECTORY)

# The compiler's run-time libraries, which the programs and Qt load.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++-6.dll
    OUTPUT_VARIABLE lbx_libstdcxx OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libgcc_s_seh-1.dll
    OUTPUT_VARIABLE lbx_libgcc OUTPUT_STRIP_TRAILING_WHITESPACE)
find_file(lbx_winpthread libwinpthread-1.dll PATHS /usr/x86_64-w64-mingw32/lib NO_DEFAULT_PATH)

# Shipped stripped, as the programs are (CPACK_STRIP_FILES): the toolchain's
# libstdc++ alone carries over 20 MB of debug data. Each goes to its folder
# (plug-ins in platforms/ and styles/).
set(lbx_shipped_dlls
    ${lbx_qt_bin}/Qt5Core.dll ${lbx_qt_bin}/Qt5Network.dll ${lbx_qt_bin}/Qt5Gui.dll
    ${lbx_qt_bin}/Qt5Widgets.dll ${lbx_libstdcxx} ${lbx_libgcc} ${lbx_winpthread}
    ${lbx_qt_prefix}/plugins/platforms/qwindows.dll
    ${lbx_qt_prefix}/plugins/styles/qwindowsvistastyle.dll)
set(lbx_stripped_dlls "")
foreach(dll IN LISTS lbx_shipped_dlls)
    get_filename_component(name ${dll} NAME)
    get_filename_component(folder ${dll} DIRECTORY)
    get_filename_component(folder ${folder} NAME)
    set(destination ${CMAKE_INSTALL_BINDIR})
    if(folder STREQUAL "platforms" OR folder STREQUAL "styles")
        set(destination ${CMAKE_INSTALL_BINDIR}/${folder})
    endif()
    set(stripped ${CMAKE_BINARY_DIR}/stripped/${destination}/${name})
    add_custom_command(OUTPUT ${stripped}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/stripped/${destination}
        COMMAND ${CMAKE_STRIP} --strip-unneeded -o ${stripped} ${dll}
        DEPENDS ${dll} VERBATIM)
    list(APPEND lbx_stripped_dlls ${stripped})
    install(FILES ${stripped} DESTINATION ${destination})
endforeach()
add_custom_target(lbx-stripped-dlls ALL DEPENDS ${lbx_stripped_dlls})

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
set(CPACK_NSIS_INSTALLED_ICON_NAME "bin\\\\lbxconfig.exe")
set(CPACK_NSIS_DISPLAY_NAME LBXConfig)
set(CPACK_NSIS_PACKAGE_NAME LBXConfig)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
# A 64-bit installer for the 64-bit programs: it runs wherever they run.
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
# The converters answer to the port the request left from: let UDP in to the
# two programs that ask them. Each rule has a name of its own, so that the
# uninstaller takes away only the installer's rules, not one a user made; a
# netsh that fails is said in the installer's log.
# The commands are written twice escaped: CPack writes them into its own
# configuration file unescaped and reads them back, so \\\" and \\\\ reach NSIS
# as " and \.
set(lbx_rule_window "LBXConfig setup: lbxconfig.exe")
set(lbx_rule_lbxctl "LBXConfig setup: lbxctl.exe")
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS "
  nsExec::ExecToLog 'netsh advfirewall firewall add rule name=\\\"${lbx_rule_window}\\\" dir=in action=allow protocol=UDP program=\\\"$INSTDIR\\\\bin\\\\lbxconfig.exe\\\" enable=yes'
  Pop $0
  StrCmp $0 0 +2
  DetailPrint 'netsh could not add the firewall rule for lbxconfig.exe (exit status $0): answer Allow when Windows asks'
  nsExec::ExecToLog 'netsh advfirewall firewall add rule name=\\\"${lbx_rule_lbxctl}\\\" dir=in action=allow protocol=UDP program=\\\"$INSTDIR\\\\bin\\\\lbxctl.exe\\\" enable=yes'
  Pop $0
  StrCmp $0 0 +2
  DetailPrint 'netsh could not add the firewall rule for lbxctl.exe (exit status $0): answer Allow when Windows asks'
")
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS "
  nsExec::ExecToLog 'netsh advfirewall firewall delete rule name=\\\"${lbx_rule_window}\\\" program=\\\"$INSTDIR\\\\bin\\\\lbxconfig.exe\\\"'
  Pop $0
  nsExec::ExecToLog 'netsh advfirewall firewall delete rule name=\\\"${lbx_rule_lbxctl}\\\" program=\\\"$INSTDIR\\\\bin\\\\lbxctl.exe\\\"'
  Pop $0
")
# lbxctl in the Start menu: a command prompt in the programs' folder, where
# lbxctl works as typed; and the installer offers to put that folder on PATH.
set(CPACK_NSIS_CREATE_ICONS_EXTRA "
  SetOutPath '$INSTDIR\\\\bin'
  CreateShortCut '$SMPROGRAMS\\\\$STARTMENU_FOLDER\\\\lbxctl (command prompt).lnk' '$SYSDIR\\\\cmd.exe' '/k lbxctl --help'
")
set(CPACK_NSIS_DELETE_ICONS_EXTRA "
  Delete '$SMPROGRAMS\\\\$MUI_TEMP\\\\lbxctl (command prompt).lnk'
")
set(CPACK_NSIS_MODIFY_PATH ON)
# Signing, where a certificate is given (scripts/windows-sign): every program
# and library staged for the installer and the zip, before they are packed.
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/windows/sign-staged.cmake)
set(CPACK_LBX_SOURCE_DIR ${PROJECT_SOURCE_DIR})
include(CPack)
