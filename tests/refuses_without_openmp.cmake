# The compile must fail, and say why: a #warning in place of the #error would print the same text.
execute_process(COMMAND ${compiler} -fsyntax-only ${source} RESULT_VARIABLE status ERROR_VARIABLE err)
if(status EQUAL 0 OR NOT err MATCHES "OpenMP is not enabled: compile with -fopenmp")
  message(FATAL_ERROR "${source} compiled without OpenMP (status ${status}):\n${err}")
endif()
