# Cross-building the Windows programs and their tests on Debian with
# MinGW-w64 (package g++-mingw-w64-x86-64-posix):
#   cmake -S . -B build-windows -G Ninja \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The window is the native Win32 one (app/win32/): Debian ships no Windows
# Qt. -DLARKSPUR_BUILD_GUI=OFF builds the console programs only.
# The posix thread model is the one whose libstdc++ has std::thread; static
# linking leaves the programs needing no MinGW DLLs beside them, so exebat
# holds nothing but the two tools, as on a user's machine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(LARKSPUR_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${LARKSPUR_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LARKSPUR_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${LARKSPUR_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${LARKSPUR_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Tests and any program run at build or test time go through wine.
find_program(LARKSPUR_WINE NAMES wine wine64)
if(LARKSPUR_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${LARKSPUR_WINE})
endif()
