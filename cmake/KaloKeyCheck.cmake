# kalo_run_key_check(RESULT_VAR [KEY...]): builds the key check with libcrypto for the
# machine being configured on and runs it; RESULT_VAR is empty when every key is a point
# of P-256, else it lists the keys that are not.
function(kalo_run_key_check result_var)
  find_package(OpenSSL REQUIRED COMPONENTS Crypto)
  try_run(run_status compiled "${CMAKE_BINARY_DIR}/key_check_run"
          "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/key_check/p256_key_check.cpp"
          LINK_LIBRARIES OpenSSL::Crypto
          COMPILE_OUTPUT_VARIABLE build_output
          RUN_OUTPUT_VARIABLE run_output
          ARGS ${ARGN})
  if(NOT compiled)
    message(FATAL_ERROR "The check of the public keys could not be built:\n${build_output}")
  endif()
  if(NOT run_status EQUAL 0)
    string(STRIP "${run_output}" run_output)
    string(REPLACE "\n" ";" run_output "${run_output}")
    if(run_output STREQUAL "")
      set(run_output "(the check ended with ${run_status})")
    endif()
    set(${result_var} "${run_output}" PARENT_SCOPE)
  else()
    set(${result_var} "" PARENT_SCOPE)
  endif()
endfunction()
