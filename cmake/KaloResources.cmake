# Carried resources: files built into a program and looked up at run time by name
# and type, the way a Windows program carries resources of its own.
#
# kalo_embed_resources(<target> FUNCTION <ns::Name> [TYPE <type>] RESOURCES <NAME> <file> ...)
# generates the function <ns::Name>() that returns the table of those resources.
# A file may be a generator expression such as $<TARGET_FILE:other>; the table is
# regenerated whenever a file changes.
set(KALO_EMBED_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/embed_resources.cmake")

function(kalo_embed_resources target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "FUNCTION;TYPE" "RESOURCES")
  if(NOT arg_FUNCTION OR NOT arg_RESOURCES)
    message(FATAL_ERROR "kalo_embed_resources(${target}): FUNCTION and RESOURCES are required")
  endif()
  if(NOT arg_TYPE)
    set(arg_TYPE CUSTOM)
  endif()
  set(pairs "")
  set(files "")
  list(LENGTH arg_RESOURCES count)
  math(EXPR last "${count} - 1")
  foreach(index RANGE 0 ${last} 2)
    math(EXPR file_index "${index} + 1")
    list(GET arg_RESOURCES ${index} name)
    list(GET arg_RESOURCES ${file_index} file)
    list(APPEND pairs "${name}=${file}")
    list(APPEND files "${file}")
    # A file given as $<TARGET_FILE:t> also makes the table wait for the target t.
    if(file MATCHES "^\\$<TARGET_FILE:([^>]+)>$")
      list(APPEND files "${CMAKE_MATCH_1}")
    endif()
  endforeach()
  string(MAKE_C_IDENTIFIER "${arg_FUNCTION}" stem)
  set(output "${CMAKE_CURRENT_BINARY_DIR}/carried_resources/${target}_${stem}.cpp")
  string(REPLACE ";" "|" pairs_argument "${pairs}")
  add_custom_command(
    OUTPUT "${output}"
    COMMAND "${CMAKE_COMMAND}" "-DOUTPUT=${output}" "-DFUNCTION=${arg_FUNCTION}"
            "-DTYPE=${arg_TYPE}" "-DRESOURCES=${pairs_argument}" -P "${KALO_EMBED_SCRIPT}"
    DEPENDS ${files} "${KALO_EMBED_SCRIPT}"
    COMMENT "Embedding resources of ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE "${output}")
endfunction()
