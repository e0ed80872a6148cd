# The public keys whose signatures the updater requires on every manifest.
set(KALO_PUBLIC_KEYS "" CACHE STRING
    "Public keys as kalo-publish keys prints them, separated by commas; the updater then refuses manifests not signed by one of them. Empty: manifests are taken unsigned")

# kalo_add_public_keys(TARGET [KEY...]): compiles the keys into TARGET as
# kalo::build::PublicKeys(). Each key is the 130 hex digits of an uncompressed P-256
# point; anything else stops the configuration, so that a mistyped key never
# produces an updater that refuses every release.
function(kalo_add_public_keys target)
  string(REPLACE "," ";" keys "${ARGN}")
  set(KEY_ENTRIES "")
  set(KEY_COUNT 0)
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
  endforeach()
  set(source "${CMAKE_CURRENT_BINARY_DIR}/public_keys/${target}.cpp")
  configure_file("${KALO_TEMPLATE_DIR}/public_keys.cpp.in" "${source}" @ONLY)
  target_sources(${target} PRIVATE "${source}")
endfunction()
