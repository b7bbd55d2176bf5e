# Cross-compiles for 32-bit Windows. Test trees use the posix-thread MinGW-w64 compilers:
# GoogleTest needs std::mutex, which the win32 thread model of GCC 12 lacks. The shipped program
# uses no standard thread types, so its tree takes TARVELO_THREAD_MODEL=win32 and leaves the
# static pthread library (about 26 KB) out.
if(NOT TARVELO_THREAD_MODEL)
  set(TARVELO_THREAD_MODEL posix)
endif()
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-${TARVELO_THREAD_MODEL})
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-${TARVELO_THREAD_MODEL})
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
