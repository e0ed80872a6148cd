# 64-bit Windows programs; their tests run under wine64 on the build machine.
set(KALO_WINDOWS_ARCH x86_64)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake")
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
