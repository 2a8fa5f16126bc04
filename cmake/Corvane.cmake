# Warnings are errors on our own code; generated moc/uic code is compiled with
# the same flags, so it has to stay clean as well.
function(corvane_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
endfunction()

# One library of ours: shared, so that process-wide state (format settings,
# the code page, the application object's handler) exists once per process.
function(corvane_library target)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${target} SHARED ${ARG_SOURCES})
  target_link_libraries(${target} PUBLIC ${ARG_LIBS})
  corvane_warnings(${target})
endfunction()
