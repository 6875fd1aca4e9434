# Cross-compiles zorPurge for 32-bit Windows with MinGW-w64.
#
# Two thread models: the program is built with the win32-thread compilers, whose run-time
# libraries need nothing that Windows 2000 lacks; the Windows tests are built with the
# posix-thread compilers, because GoogleTest needs std::mutex (the posix run-time libraries bring
# in winpthreads, which imports GetTickCount64 and AddVectoredExceptionHandler). The tests'
# configuration builds the program in a nested configuration with ZP_THREADS=win32.
if(NOT DEFINED ZP_THREADS)
  set(ZP_THREADS posix)
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZP_THREADS)

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ZP_MINGW i686-w64-mingw32)
set(CMAKE_C_COMPILER ${ZP_MINGW}-gcc-${ZP_THREADS})
set(CMAKE_CXX_COMPILER ${ZP_MINGW}-g++-${ZP_THREADS})
set(CMAKE_RC_COMPILER ${ZP_MINGW}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ZP_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
