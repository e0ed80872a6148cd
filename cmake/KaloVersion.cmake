# Version numbers of our programs. A version a.b.c.d is read as a build date:
# a = ddmm, b = yyyy, c unused (0), d = hhnn. Every program carries it twice: in a
# generated header (for its own use) and in its file for other programs to read: a
# version resource on Windows, on Linux an ELF note laid out like the fixed file
# information of such a resource.

set(KALO_VERSION "" CACHE STRING
    "Version a.b.c.d of every program (ddmm.yyyy.0.hhnn); empty takes the local date and time of the build folder's first configure")

function(_kalo_strip_zeros value out)
  string(REGEX REPLACE "^0+([0-9])" "\\1" stripped "${value}")
  set(${out} "${stripped}" PARENT_SCOPE)
endfunction()

# Splits a version text into its four fields, refusing anything but four numbers of 16 bits.
function(kalo_parse_version text prefix)
  if(NOT text MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
    message(FATAL_ERROR "Version '${text}' is not four numbers a.b.c.d")
  endif()
  set(index 0)
  foreach(field IN ITEMS "${CMAKE_MATCH_1}" "${CMAKE_MATCH_2}" "${CMAKE_MATCH_3}" "${CMAKE_MATCH_4}")
    _kalo_strip_zeros("${field}" field)
    if(field GREATER 65535)
      message(FATAL_ERROR "Version '${text}': field ${field} does not fit in 16 bits")
    endif()
    set(${prefix}_${index} "${field}" PARENT_SCOPE)
    math(EXPR index "${index} + 1")
  endforeach()
endfunction()

function(_kalo_version_of_now out)
  foreach(part IN ITEMS d m Y H M)
    string(TIMESTAMP value "%${part}")
    _kalo_strip_zeros("${value}" value)
    set(now_${part} "${value}")
  endforeach()
  math(EXPR day_month "${now_d} * 100 + ${now_m}")
  math(EXPR hour_minute "${now_H} * 100 + ${now_M}")
  set(${out} "${day_month}.${now_Y}.0.${hour_minute}" PARENT_SCOPE)
endfunction()

# A build folder keeps the version of its first configure, so that configuring again
# neither rebuilds everything nor makes every program look newer.
if(KALO_VERSION STREQUAL "")
  if(NOT KALO_FIRST_CONFIGURE_VERSION)
    _kalo_version_of_now(now_version)
    set(KALO_FIRST_CONFIGURE_VERSION "${now_version}" CACHE INTERNAL "")
  endif()
  set(KALO_EFFECTIVE_VERSION "${KALO_FIRST_CONFIGURE_VERSION}")
else()
  set(KALO_EFFECTIVE_VERSION "${KALO_VERSION}")
endif()
kalo_parse_version("${KALO_EFFECTIVE_VERSION}" KALO_VERSION_FIELD)
message(STATUS "Program version: ${KALO_EFFECTIVE_VERSION}")

set(KALO_GENERATED_DIR "${PROJECT_BINARY_DIR}/generated")
configure_file("${CMAKE_CURRENT_LIST_DIR}/templates/build_version.h.in"
               "${KALO_GENERATED_DIR}/kalo/build_version.h" @ONLY)
add_library(kalo_build_version INTERFACE)
target_include_directories(kalo_build_version INTERFACE "${KALO_GENERATED_DIR}")

# kalo_add_version_note(<target> [VERSION a.b.c.d] [LIBRARY])
# Gives <target> its version: an ELF note on Linux, a version resource on Windows.
# The version defaults to the build's.
function(kalo_add_version_note target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "LIBRARY" "VERSION" "")
  if(NOT arg_VERSION)
    set(arg_VERSION "${KALO_EFFECTIVE_VERSION}")
  endif()
  kalo_parse_version("${arg_VERSION}" field)
  if(WIN32)
    get_target_property(file_stem ${target} OUTPUT_NAME)
    if(NOT file_stem)
      set(file_stem "${target}")
    endif()
    if(arg_LIBRARY)
      set(RESOURCE_FILE_TYPE VFT_DLL)
      set(RESOURCE_FILE_NAME "${file_stem}.dll")
    else()
      set(RESOURCE_FILE_TYPE VFT_APP)
      set(RESOURCE_FILE_NAME "${file_stem}.exe")
    endif()
    set(resource "${CMAKE_CURRENT_BINARY_DIR}/version_resource/${target}.rc")
    configure_file("${KALO_TEMPLATE_DIR}/version_resource.rc.in" "${resource}" @ONLY)
    target_sources(${target} PRIVATE "${resource}")
    return()
  endif()
  math(EXPR NOTE_VERSION_MS "(${field_0} << 16) | ${field_1}" OUTPUT_FORMAT HEXADECIMAL)
  math(EXPR NOTE_VERSION_LS "(${field_2} << 16) | ${field_3}" OUTPUT_FORMAT HEXADECIMAL)
  # VFT_APP or VFT_DLL, as a PE version resource would say.
  if(arg_LIBRARY)
    set(NOTE_FILE_TYPE 2)
  else()
    set(NOTE_FILE_TYPE 1)
  endif()
  set(note_source "${CMAKE_CURRENT_BINARY_DIR}/version_note/${target}.cpp")
  configure_file("${KALO_TEMPLATE_DIR}/version_note.cpp.in" "${note_source}" @ONLY)
  target_sources(${target} PRIVATE "${note_source}")
endfunction()

set(KALO_TEMPLATE_DIR "${CMAKE_CURRENT_LIST_DIR}/templates")

# Deployment settings compiled into the programs.
set(KALO_DEFAULT_SERVER "http://127.0.0.1:8080" CACHE STRING
    "Server base address used when neither --server nor the settings value config/servidor gives one")
set(KALO_SUPPORT_LINE "Suporte KALO: suporte@kalo.com.br" CACHE STRING
    "The support contact line shown in the updater's window")
set(KALO_HOST_LABEL "" CACHE STRING
    "The host name shown under the support line; empty shows the host of the server in use")
configure_file("${KALO_TEMPLATE_DIR}/build_settings.h.in"
               "${KALO_GENERATED_DIR}/kalo/build_settings.h" @ONLY)
