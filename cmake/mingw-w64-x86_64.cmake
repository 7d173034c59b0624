# Cross build for 64-bit Windows with Debian's mingw-w64 compilers (the
# -posix variants, whose C++ library has std::thread and std::mutex).
# TARVELIN_WIN_DEPS names the folder the Windows libraries are installed in
# (scripts/setup --windows builds them there).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)

if(DEFINED ENV{TARVELIN_WIN_DEPS} AND NOT TARVELIN_WIN_DEPS)
  set(TARVELIN_WIN_DEPS $ENV{TARVELIN_WIN_DEPS})
endif()
# Passed on to try_compile projects, which see only the toolchain file.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TARVELIN_WIN_DEPS)

set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX} ${TARVELIN_WIN_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static libraries only: -lz must not resolve to the zlib DLL.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)

# pkg-config reads the cross libraries' .pc files only, with their private
# dependencies (static linking).
if(TARVELIN_WIN_DEPS)
  set(ENV{PKG_CONFIG_LIBDIR}
    "${TARVELIN_WIN_DEPS}/lib/pkgconfig:${TARVELIN_WIN_DEPS}/share/pkgconfig:/usr/${TOOLCHAIN_PREFIX}/lib/pkgconfig")
  set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
endif()
set(PKG_CONFIG_ARGN --static)
