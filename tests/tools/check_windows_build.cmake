# Checks a Windows build folder from the Linux side: the two archive libraries export
# their functions under plain names and nothing else, and kalo-publish reads from every
# program and library the stamp of the build's version.
# cmake -DBUILD_DIR=<folder> -DPUBLISH=<kalo-publish> -DOBJDUMP=<objdump> -P this file
foreach(variable IN ITEMS BUILD_DIR PUBLISH OBJDUMP)
  if(NOT ${variable})
    message(FATAL_ERROR "${variable} is not set")
  endif()
endforeach()

# The version the build gave its programs: set, or taken at its first configure.
load_cache("${BUILD_DIR}" READ_WITH_PREFIX build_ KALO_VERSION KALO_FIRST_CONFIGURE_VERSION)
set(version "${build_KALO_VERSION}")
if(version STREQUAL "")
  set(version "${build_KALO_FIRST_CONFIGURE_VERSION}")
endif()
if(NOT version MATCHES "^([0-9]+)\\.([0-9]+)\\.[0-9]+\\.([0-9]+)$")
  message(FATAL_ERROR "${BUILD_DIR}: no build version in its cache")
endif()
math(EXPR day "${CMAKE_MATCH_1} / 100")
math(EXPR month "${CMAKE_MATCH_1} % 100")
math(EXPR hour "${CMAKE_MATCH_3} / 100")
math(EXPR minute "${CMAKE_MATCH_3} % 100")
set(year "${CMAKE_MATCH_2}")
foreach(part IN ITEMS day month hour minute)
  if(${part} LESS 10)
    set(${part} "0${${part}}")
  endif()
endforeach()
set(expected_stamp "${year}${month}${day}${hour}${minute}")

set(programs
  "src/kalo_upd.exe" "libs/extractor/unzip32.exe" "libs/extractor/zip32.exe"
  "libs/unzip32/unzip32.dll" "libs/zip32/zip32.dll")
foreach(program IN LISTS programs)
  set(path "${BUILD_DIR}/${program}")
  execute_process(COMMAND "${PUBLISH}" stamp "${path}" RESULT_VARIABLE result
                  OUTPUT_VARIABLE output ERROR_VARIABLE errors)
  if(NOT result EQUAL 0 OR NOT output STREQUAL "${path}\t${expected_stamp}\n")
    message(FATAL_ERROR "${path}: expected stamp ${expected_stamp}, kalo-publish said: ${output}${errors}")
  endif()
endforeach()

function(check_exports library)
  set(path "${BUILD_DIR}/libs/${library}/${library}.dll")
  execute_process(COMMAND "${OBJDUMP}" -p "${path}" RESULT_VARIABLE result
                  OUTPUT_VARIABLE dump ERROR_VARIABLE errors)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${path}: ${errors}")
  endif()
  # The name table lists one "[ordinal] name" line an export.
  string(REGEX MATCHALL "\\[[ 0-9]+\\] [^\n]+" lines "${dump}")
  set(names "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^\\[[ 0-9]+\\] +" "" name "${line}")
    list(APPEND names "${name}")
  endforeach()
  list(SORT names)
  if(NOT names STREQUAL "${ARGN}")
    message(FATAL_ERROR "${path} exports '${names}', expected '${ARGN}'")
  endif()
endfunction()
check_exports(unzip32 Wiz_SingleEntryUnzip)
check_exports(zip32 ZpArchive ZpInit ZpSetOptions)
message(STATUS "${BUILD_DIR}: exports and stamps ${expected_stamp} as built")
