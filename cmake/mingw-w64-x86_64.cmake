# Cross-build for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VELMORAN_CROSS_TRIPLE x86_64-w64-mingw32)
# The posix threading flavour of the compilers, which GoogleTest needs; C for
# GoogleTest's own project.
find_program(CMAKE_CXX_COMPILER NAMES ${VELMORAN_CROSS_TRIPLE}-g++-posix ${VELMORAN_CROSS_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${VELMORAN_CROSS_TRIPLE}-gcc-posix ${VELMORAN_CROSS_TRIPLE}-gcc REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${VELMORAN_CROSS_TRIPLE}-windres REQUIRED)

include(${CMAKE_CURRENT_LIST_DIR}/cross-find-root.cmake)

# No MinGW runtime DLL beside the executable: it must run on a clean Windows machine.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# A release build ships as it is built and tested: without its symbols, a third of the size.
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")

# Tests of the cross-built programs run under Wine, found by the one script that knows
# where Debian puts it.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/windows/wine.sh run)
