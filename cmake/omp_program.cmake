# How every program, and the benchmark's floor, is built: OpenMP, warnings, and the sanitizers of
# the race and memory checks.
add_library(omp_program INTERFACE)
target_link_libraries(omp_program INTERFACE OpenMP::OpenMP_CXX)

set(DEMOS_SANITIZE "" CACHE STRING "Build everything with -fsanitize=<this>, e.g. thread, or address,undefined")

if(MSVC)
  # /openmp, which find_package(OpenMP) gives cl, is OpenMP 2.0: every construct here is in it.
  add_compile_options(/W4)
  return()
endif()

add_compile_options(-Wall -Wextra -Wpedantic)
# The programs throw nothing; without exceptions a parallel region needs no C++ runtime, whose
# loading would add two thirds to a short run.
target_compile_options(omp_program INTERFACE -fno-exceptions)

if(DEMOS_SANITIZE)
  add_compile_options(-fsanitize=${DEMOS_SANITIZE} -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${DEMOS_SANITIZE})
endif()

# ThreadSanitizer sees OpenMP's barriers only through Archer, which the LLVM runtime loads from
# its own folder. Some distributions put the runtime elsewhere (Debian from LLVM 21 on), and the
# race check then reports races that are not there: link Archer in, so the runtime finds it in
# the process wherever it lies.
if(DEMOS_SANITIZE MATCHES "thread" AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-resource-dir OUTPUT_VARIABLE resource_dir
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  get_filename_component(omp_dir "${OpenMP_omp_LIBRARY}" DIRECTORY)
  find_library(ARCHER_LIBRARY archer HINTS "${resource_dir}/../.." "${omp_dir}" NO_DEFAULT_PATH)
  if(NOT ARCHER_LIBRARY)
    message(FATAL_ERROR "libarcher.so not found next to ${CMAKE_CXX_COMPILER} or ${OpenMP_omp_LIBRARY}: "
      "install the libomp-dev that matches this clang")
  endif()
  target_link_libraries(omp_program INTERFACE -Wl,--push-state,--no-as-needed "${ARCHER_LIBRARY}"
    -Wl,--pop-state)
endif()
