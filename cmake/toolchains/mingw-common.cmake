# Cross-compiles Windows programs with mingw-w64's posix-thread compilers, whose
# standard library has std::thread and std::mutex. The including toolchain file sets
# KALO_WINDOWS_ARCH (x86_64 or i686).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${KALO_WINDOWS_ARCH})
set(KALO_WINDOWS_TRIPLET ${KALO_WINDOWS_ARCH}-w64-mingw32)

set(CMAKE_C_COMPILER ${KALO_WINDOWS_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KALO_WINDOWS_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KALO_WINDOWS_TRIPLET}-windres)

# The cross-built dependencies (libzip, GoogleTest, cpp-httplib) come first, then
# the mingw-w64 system folder; the build machine's own libraries never.
get_filename_component(KALO_WINDOWS_DEPENDENCIES
                       "${CMAKE_CURRENT_LIST_DIR}/../../build/windeps/${KALO_WINDOWS_TRIPLET}" ABSOLUTE)
set(CMAKE_FIND_ROOT_PATH "${KALO_WINDOWS_DEPENDENCIES}" /usr/${KALO_WINDOWS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config answers for the cross-built dependencies only.
set(ENV{PKG_CONFIG_LIBDIR} "${KALO_WINDOWS_DEPENDENCIES}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
