# Cross build for 64-bit Windows with Debian's MinGW-w64, POSIX thread model
# (the win32 model's GCC has no std::thread or std::mutex). Programs are
# linked statically: they need no DLL but the system's.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(V2BSP_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${V2BSP_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${V2BSP_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${V2BSP_MINGW_TRIPLE}-windres)

# Libraries and headers come from the MinGW tree only; the host's /usr/include
# would put glibc's headers before MinGW's. Header-only libraries of the host
# are reached through cmake/HostHeaders.cmake instead.
set(CMAKE_FIND_ROOT_PATH /usr/${V2BSP_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Test programs run through wine, where it is installed (scripts/test-windows.sh).
find_program(V2BSP_WINE wine)
if(V2BSP_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${V2BSP_WINE})
endif()
