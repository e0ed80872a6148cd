# Our own code is built with many warnings on; kalo_set_warnings(<target>) turns them
# on. They are errors only where KALO_WARNINGS_AS_ERRORS is set (scripts/test sets it
# for the tested build): a user's or packager's build must never fail on a warning
# that another compiler or optimisation level invents.
option(KALO_WARNINGS_AS_ERRORS "Treat warnings in our own code as errors" OFF)

function(kalo_set_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
    -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual -Wnull-dereference
    -Wimplicit-fallthrough $<$<BOOL:${KALO_WARNINGS_AS_ERRORS}>:-Werror>)
endfunction()
