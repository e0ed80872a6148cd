# The libraries the build links with: Debian's packages on Linux (scripts/setup
# installs them); on Windows, mingw-w64's zlib and the libraries that
# scripts/build-windows-deps cross-builds into build/windeps.
find_package(PkgConfig REQUIRED)

if(WIN32)
  # Everything is linked statically there. libzip's header must not ask for a DLL
  # import, and its own dependencies follow it on the link line. The targets keep the
  # names that pkg-config gives them on Linux.
  set(ZLIB_USE_STATIC_LIBS ON)
  find_package(ZLIB REQUIRED)
  find_library(LIBZIP_ARCHIVE NAMES libzip.a REQUIRED)
  find_path(LIBZIP_INCLUDE_DIR zip.h REQUIRED)
  add_library(PkgConfig::LIBZIP STATIC IMPORTED GLOBAL)
  set_target_properties(PkgConfig::LIBZIP PROPERTIES
    IMPORTED_LOCATION "${LIBZIP_ARCHIVE}"
    INTERFACE_INCLUDE_DIRECTORIES "${LIBZIP_INCLUDE_DIR}"
    INTERFACE_COMPILE_DEFINITIONS ZIP_STATIC
    INTERFACE_LINK_LIBRARIES "ZLIB::ZLIB;bcrypt;advapi32")
  # cpp-httplib is one header; it needs Windows sockets.
  find_path(HTTPLIB_INCLUDE_DIR httplib.h REQUIRED)
  add_library(kalo_httplib INTERFACE)
  target_include_directories(kalo_httplib SYSTEM INTERFACE "${HTTPLIB_INCLUDE_DIR}")
  target_link_libraries(kalo_httplib INTERFACE ws2_32 crypt32)
  add_library(PkgConfig::HTTPLIB ALIAS kalo_httplib)
  # Programs carry no runtime DLLs beside them: the C and C++ runtimes and the
  # threads library are linked in. Optimised builds are the shipped ones: no symbols.
  # Sections start on page boundaries in the file as well as in memory: wine then maps a
  # program straight from its file instead of reading it whole, carried extractors
  # included, at every start (a third of a second for the updater and its tests).
  add_link_options(-static -Wl,--file-alignment,4096 $<$<CONFIG:Release>:-s>)
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00)
else()
  pkg_check_modules(LIBZIP REQUIRED IMPORTED_TARGET GLOBAL libzip)
  find_package(ZLIB REQUIRED)
  pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET GLOBAL cpp-httplib)
  find_package(CURL REQUIRED)
  find_package(OpenSSL REQUIRED COMPONENTS Crypto)
endif()
