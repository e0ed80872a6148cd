# 32-bit Windows programs, the shipped ones. The build machine cannot run them.
set(KALO_WINDOWS_ARCH i686)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake")
