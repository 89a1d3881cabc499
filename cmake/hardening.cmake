# The hardening that Debian's own packages get from dpkg-buildflags with hardening=+all: stack
# protector, fortified libc calls, full RELRO and BIND_NOW, position-independent executables.
# Each flag is taken only where the toolchain builds and links a program with it: MinGW-w64
# accepts the stack protector but cannot link it without libssp, and neither Windows' nor
# Apple's linker knows -z. The sanitizers bring checks of their own and do
# not mix with fortified calls.
if(MSVC OR DEMOS_SANITIZE)
  return()
endif()
include(CheckCXXSourceCompiles)
include(CheckLinkerFlag)
include(CheckPIESupported)

check_pie_supported()
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

# A program that has what the flags guard: a local array, and a libc call that can be fortified.
set(probe "#include <cstdio>
int main(int argc, char **argv) { char b[64]; std::snprintf(b, sizeof b, \"%s\", argv[0]); return b[0] + argc; }")
foreach(flag IN ITEMS -fstack-protector-strong -fstack-clash-protection -fcf-protection -D_FORTIFY_SOURCE=2)
  string(MAKE_C_IDENTIFIER "DEMOS_TAKES${flag}" taken)
  # On the compile line alone, as the programs get it: given to the link too, gcc adds the
  # libssp that a MinGW-w64 build of the programs would lack. glibc fortifies only optimised
  # code, and warns without optimisation.
  set(CMAKE_REQUIRED_DEFINITIONS -O2 -Werror ${flag})
  check_cxx_source_compiles("${probe}" ${taken})
  if(${taken} AND flag MATCHES "^-D(.*)")
    target_compile_definitions(omp_program INTERFACE $<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:${CMAKE_MATCH_1}>)
  elseif(${taken})
    target_compile_options(omp_program INTERFACE ${flag})
  endif()
endforeach()
unset(CMAKE_REQUIRED_DEFINITIONS)

check_linker_flag(CXX LINKER:-z,relro,-z,now DEMOS_TAKES_RELRO_NOW)
if(DEMOS_TAKES_RELRO_NOW)
  target_link_options(omp_program INTERFACE LINKER:-z,relro LINKER:-z,now)
endif()
