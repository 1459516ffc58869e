# Cross-compiling the Windows executables on Debian with mingw-w64
# (package g++-mingw-w64-x86-64). The posix thread model is not needed:
# the program is single-threaded, so the default win32 variant serves.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The executables carry the C++ runtime themselves: no DLLs beyond the system's.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests and tools built for Windows run under Wine here.
find_program(GLIMMERDEX_WINE NAMES wine wine64)
if(GLIMMERDEX_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${GLIMMERDEX_WINE})
endif()
