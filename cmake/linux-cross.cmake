# The part of the Linux cross-builds that is the same for every target: Debian's cross
# compilers (g++-TRIPLE), and qemu's user-mode emulator to run what they build here.
# Included by a file per target that sets VELMORAN_CROSS_TRIPLE, CMAKE_SYSTEM_PROCESSOR
# and VELMORAN_CROSS_EMULATOR.
set(CMAKE_SYSTEM_NAME Linux)

find_program(CMAKE_CXX_COMPILER NAMES ${VELMORAN_CROSS_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${VELMORAN_CROSS_TRIPLE}-gcc REQUIRED)

include(${CMAKE_CURRENT_LIST_DIR}/cross-find-root.cmake)

find_program(VELMORAN_CROSS_EMULATOR_PATH NAMES ${VELMORAN_CROSS_EMULATOR})
if(VELMORAN_CROSS_EMULATOR_PATH)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VELMORAN_CROSS_EMULATOR_PATH})
endif()
