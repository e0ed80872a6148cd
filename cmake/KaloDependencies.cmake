# The Debian packages the build links with (scripts/setup installs them).
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBZIP REQUIRED IMPORTED_TARGET GLOBAL libzip)
pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET GLOBAL cpp-httplib)
find_package(ZLIB REQUIRED)
find_package(CURL REQUIRED)
