# Runs inside ctest, after the discovery of a GoogleTest program's tests: gives every
# test the labels of the file that holds it, and the properties those labels ask for.
# The suites of each file are read from the file itself at every run, so a test that is
# renamed or added keeps its file's labels without a change here.
#
# Expects, from the file that kalo_add_tests generates:
#   KALO_DISCOVERED        the name of the variable that lists the discovered tests
#   KALO_FILE_LABELS       <source file>=<label>,<label>... for every test file
#   KALO_LABEL_PROPERTIES  <label>=<PROPERTY>:<value> for every label that asks for one

foreach(entry IN LISTS KALO_FILE_LABELS)
  string(REGEX MATCH "^([^=]*)=(.*)$" pair "${entry}")
  set(file "${CMAKE_MATCH_1}")
  string(REPLACE "," ";" labels "${CMAKE_MATCH_2}")
  file(STRINGS "${file}" definitions REGEX "^(TYPED_)?TEST(_F|_P)?\\(")
  foreach(definition IN LISTS definitions)
    string(REGEX REPLACE "^[A-Z_]+\\( *([A-Za-z0-9_]+).*$" "\\1" suite "${definition}")
    # A suite spread over files with different labels takes all of them.
    list(APPEND kalo_labels_of_${suite} ${labels})
    list(REMOVE_DUPLICATES kalo_labels_of_${suite})
  endforeach()
endforeach()

foreach(test IN LISTS ${KALO_DISCOVERED})
  # "Suite.Case", or "Instances/Suite.Case/0" for a parameterised one.
  string(REGEX REPLACE "^([^./]*/)?([^./]+)\\..*$" "\\2" suite "${test}")
  if(NOT DEFINED kalo_labels_of_${suite})
    message(WARNING "${test} is in no file added with kalo_add_tests: it runs without labels")
    continue()
  endif()
  set_tests_properties("${test}" PROPERTIES LABELS "${kalo_labels_of_${suite}}")
  set(locks "")
  foreach(label IN LISTS kalo_labels_of_${suite})
    foreach(entry IN LISTS KALO_LABEL_PROPERTIES)
      if(NOT entry MATCHES "^${label}=([A-Z_]+):(.*)$")
        continue()
      elseif(CMAKE_MATCH_1 STREQUAL "RESOURCE_LOCK")
        list(APPEND locks "${CMAKE_MATCH_2}")
      else()
        set_tests_properties("${test}" PROPERTIES "${CMAKE_MATCH_1}" "${CMAKE_MATCH_2}")
      endif()
    endforeach()
  endforeach()
  if(locks)
    set_tests_properties("${test}" PROPERTIES RESOURCE_LOCK "${locks}")
  endif()
endforeach()
