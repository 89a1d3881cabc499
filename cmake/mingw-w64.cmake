# Windows programs from Debian's MinGW-w64 g++ (g++-mingw-w64-x86-64-posix), run here by wine64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Static, so that each .exe runs without libgomp-1.dll and its companions beside it. By path
# the OpenMP runtime would be the DLL's import library; by name, -static takes its archive.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(OpenMP_gomp_LIBRARY gomp)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
