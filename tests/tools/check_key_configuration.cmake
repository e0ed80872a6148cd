# Configures the project, for Linux and for Windows, with the fixtures' public key and
# the same key with one digit mistyped, and expects the configuration to stop on the
# second. Run with SOURCE_DIR (the project) and WORK_DIR (for the build folders).
file(READ "${SOURCE_DIR}/tests/fixtures/signed/public_key.txt" good_key)
string(SUBSTRING "${good_key}" 0 130 good_key)
string(SUBSTRING "${good_key}" 0 100 head)
string(SUBSTRING "${good_key}" 101 29 tail)
set(bad_key "${head}0${tail}")
foreach(system IN ITEMS linux windows)
  set(build "${WORK_DIR}/${system}")
  set(toolchain "")
  if(system STREQUAL "windows")
    set(toolchain "--toolchain" "${SOURCE_DIR}/cmake/toolchains/mingw-x86_64.cmake")
  endif()
  file(REMOVE_RECURSE "${build}")
  execute_process(
    COMMAND "${CMAKE_COMMAND}" -S "${SOURCE_DIR}" -B "${build}" -G Ninja ${toolchain}
            -DKALO_BUILD_TESTS=OFF "-DKALO_PUBLIC_KEYS=${good_key},${bad_key}"
    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  file(REMOVE_RECURSE "${build}")
  string(REGEX REPLACE "[ \n]+" " " output "${output}")
  if(status EQUAL 0 OR NOT output MATCHES "KALO_PUBLIC_KEYS: ${bad_key} is not a point of the curve P-256")
    message(FATAL_ERROR "${system}: the key off the curve did not stop the configuration:\n${output}")
  endif()
endforeach()
