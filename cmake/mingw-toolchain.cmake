# Cross-compiling for Windows with MinGW-w64. ZELBRIDGE_MINGW_ARCH is i686 (the
# product) or x86_64 (a build whose tests run under a 64-bit-only Wine).
if(NOT ZELBRIDGE_MINGW_ARCH)
  set(ZELBRIDGE_MINGW_ARCH i686)
endif()
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${ZELBRIDGE_MINGW_ARCH})
set(_zb_triple ${ZELBRIDGE_MINGW_ARCH}-w64-mingw32)
# The posix thread model: the win32 one of gcc 12 has no std::mutex.
set(CMAKE_C_COMPILER ${_zb_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_zb_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_zb_triple}-windres)
set(CMAKE_DLLTOOL ${_zb_triple}-dlltool)
set(CMAKE_FIND_ROOT_PATH /usr/${_zb_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Packages installed anywhere (CMAKE_PREFIX_PATH) are for the target too.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
