# The compiler warnings of the project's own targets, set on each target (never on the
# directory, so a project that adds this one as a subdirectory keeps its own flags).
# ORVUS_WERROR makes them errors: on in the Makefile and in CI, off for anyone who builds with
# another compiler, whose new warnings should not stop a build.
option(ORVUS_WERROR "Treat compiler warnings as errors" OFF)

function(orvus_target_warnings)
  foreach(target IN LISTS ARGN)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic
                                             $<$<BOOL:${ORVUS_WERROR}>:-Werror>)
  endforeach()
endfunction()
