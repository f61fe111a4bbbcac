# Cross-builds LBXConfig for 64-bit Windows on Debian with mingw-w64 (posix
# threads) against the Qt that scripts/windows-qt builds:
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
#         -DLBX_WINDOWS_QT=/opt/lbxconfig/qt5-win64
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(LBX_WINDOWS_QT /opt/lbxconfig/qt5-win64 CACHE PATH "Qt 5 for Windows, built by scripts/windows-qt")
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${LBX_WINDOWS_QT})
set(CMAKE_PREFIX_PATH ${LBX_WINDOWS_QT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
