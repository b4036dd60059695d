# Cross build of the Windows programs with MinGW-w64 (Debian: g++-mingw-w64-x86-64-posix).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CLOCKAGENT_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${CLOCKAGENT_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CLOCKAGENT_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${CLOCKAGENT_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${CLOCKAGENT_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained .exe: no MinGW runtime DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# Release programs without their symbol tables: a third of the size.
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
