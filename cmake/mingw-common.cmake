# Shared by both MinGW toolchain files. VELQUORA_DEPS_PREFIX names the folder the dependency
# script installed the target's static libraries into.
set(CMAKE_C_COMPILER ${VELQUORA_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELQUORA_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VELQUORA_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${VELQUORA_MINGW_TRIPLET}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${VELQUORA_MINGW_TRIPLET}-ranlib CACHE FILEPATH "")

list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VELQUORA_DEPS_PREFIX)
set(CMAKE_FIND_ROOT_PATH /usr/${VELQUORA_MINGW_TRIPLET})
if(VELQUORA_DEPS_PREFIX)
  list(PREPEND CMAKE_FIND_ROOT_PATH ${VELQUORA_DEPS_PREFIX})
  # pkg-config must see only the target's libraries, never the build machine's.
  set(ENV{PKG_CONFIG_LIBDIR} ${VELQUORA_DEPS_PREFIX}/lib/pkgconfig:${VELQUORA_DEPS_PREFIX}/share/pkgconfig)
  set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# 32-bit programs cannot start on this machine: they run with the 32-bit wine of an emulated
# root (scripts/win32-root.sh), entered through a wrapper. Debian's `wine` launcher prefers the
# 32-bit loader whenever wine32 is installed, so 64-bit programs are started by the 64-bit loader
# itself.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "X86")
  set(VELQUORA_WINE ${CMAKE_CURRENT_LIST_DIR}/../tests/windows/wine32.sh)
else()
  find_program(VELQUORA_WINE NAMES wine64 PATHS /usr/lib/wine /usr/lib64/wine NO_DEFAULT_PATH)
  find_program(VELQUORA_WINE NAMES wine64)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${VELQUORA_WINE})
