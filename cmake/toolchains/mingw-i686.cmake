# Cross-compiles Windows programs (i686) with mingw-w64's posix-thread compilers,
# whose standard library has std::thread and std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KALO_WINDOWS_TRIPLET i686-w64-mingw32)

set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

# The cross-built dependencies (libzip, GoogleTest, cpp-httplib) come first, then
# the mingw-w64 system folder; the build machine's own libraries never.
set(KALO_WINDOWS_DEPENDENCIES "${CMAKE_CURRENT_LIST_DIR}/../../build/windeps/i686-w64-mingw32")
get_filename_component(KALO_WINDOWS_DEPENDENCIES "${KALO_WINDOWS_DEPENDENCIES}" ABSOLUTE)
set(CMAKE_FIND_ROOT_PATH "${KALO_WINDOWS_DEPENDENCIES}" /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config answers for the cross-built dependencies only.
set(ENV{PKG_CONFIG_LIBDIR} "${KALO_WINDOWS_DEPENDENCIES}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
