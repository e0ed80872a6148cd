# The public keys whose signatures the updater requires on every manifest.
set(KALO_PUBLIC_KEYS "" CACHE STRING
    "Public keys as kalo-publish keys prints them, separated by commas; the updater then refuses manifests not signed by one of them. Empty: manifests are taken unsigned")

include(KaloKeyCheck)

# kalo_check_key_points([KEY...]): stops the configuration when a key is not a point of
# P-256, as libcrypto on this machine finds. A point is the same point whatever library
# checks it, and a Windows build made here cannot always run here (the win32 preset
# never can): a cross-build checks in a project of its own, configured for this machine.
# Each set of keys is checked once per build folder.
function(kalo_check_key_points)
  string(SHA256 key_set "${ARGN}")
  if(ARGN STREQUAL "" OR key_set IN_LIST KALO_CHECKED_KEY_SETS)
    return()
  endif()
  if(CMAKE_CROSSCOMPILING)
    set(check_dir "${CMAKE_BINARY_DIR}/key_check")
    file(REMOVE_RECURSE "${check_dir}")
    list(JOIN ARGN "," keys)
    execute_process(
      COMMAND "${CMAKE_COMMAND}" -E env --unset=CXX --unset=CXXFLAGS --unset=LDFLAGS
              "${CMAKE_COMMAND}" -S "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/key_check" -B "${check_dir}"
              "-DKALO_KEYS=${keys}"
      RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "KALO_PUBLIC_KEYS: the keys could not be checked on this machine:\n${output}")
    endif()
    file(STRINGS "${check_dir}/bad_keys.txt" bad_keys)
  else()
    kalo_run_key_check(bad_keys ${ARGN})
  endif()
  if(bad_keys)
    list(JOIN bad_keys ", " bad_keys)
    message(FATAL_ERROR "KALO_PUBLIC_KEYS: ${bad_keys} is not a point of the curve P-256 (a mistyped digit?); an updater with it would refuse every release")
  endif()
  set(KALO_CHECKED_KEY_SETS ${KALO_CHECKED_KEY_SETS} ${key_set} CACHE INTERNAL "Key sets found to be points")
endfunction()

# kalo_add_public_keys(TARGET [KEY...]): compiles the keys into TARGET as
# kalo::build::PublicKeys(). Each key is the 130 hex digits of an uncompressed P-256
# point; anything else stops the configuration, so that a mistyped key never
# produces an updater that refuses every release.
function(kalo_add_public_keys target)
  string(REPLACE "," ";" keys "${ARGN}")
  set(KEY_ENTRIES "")
  set(KEY_COUNT 0)
  set(checked_keys "")
  foreach(key IN LISTS keys)
    string(STRIP "${key}" key)
    string(TOLOWER "${key}" key)
    if(key STREQUAL "")
      continue()
    endif()
    if(NOT key MATCHES "^04[0-9a-f]+$")
      message(FATAL_ERROR "KALO_PUBLIC_KEYS: '${key}' is not a public key as kalo-publish keys prints it")
    endif()
    string(LENGTH "${key}" length)
    if(NOT length EQUAL 130)
      message(FATAL_ERROR "KALO_PUBLIC_KEYS: '${key}' has ${length} digits, not 130")
    endif()
    string(APPEND KEY_ENTRIES "\n    \"${key}\",")
    math(EXPR KEY_COUNT "${KEY_COUNT} + 1")
    list(APPEND checked_keys "${key}")
  endforeach()
  kalo_check_key_points(${checked_keys})
  set(source "${CMAKE_CURRENT_BINARY_DIR}/public_keys/${target}.cpp")
  configure_file("${KALO_TEMPLATE_DIR}/public_keys.cpp.in" "${source}" @ONLY)
  target_sources(${target} PRIVATE "${source}")
endfunction()
