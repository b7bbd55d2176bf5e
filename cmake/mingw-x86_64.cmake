# Cross-compiles for 64-bit Windows (the test build on machines that cannot run 32-bit code) with the posix-thread MinGW-w64 compilers; GoogleTest needs
# std::mutex, which the win32 thread model of GCC 12 lacks.
# A release tree for such machines takes TARVELO_THREAD_MODEL=win32, as the 32-bit one does.
if(NOT TARVELO_THREAD_MODEL)
  set(TARVELO_THREAD_MODEL posix)
endif()
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-${TARVELO_THREAD_MODEL})
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-${TARVELO_THREAD_MODEL})
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
