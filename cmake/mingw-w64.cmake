# Toolchain for the Windows build of kranzel: Debian's mingw-w64 cross
# compiler for 64-bit Windows (packages g++-mingw-w64-x86-64, mingw-w64).
# Used by scripts/build-windows.sh:
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KRANZEL_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KRANZEL_MINGW_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${KRANZEL_MINGW_TRIPLET}-g++)
set(CMAKE_RC_COMPILER ${KRANZEL_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KRANZEL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
