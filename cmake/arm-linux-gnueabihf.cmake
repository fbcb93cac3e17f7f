# Cross-build for 32-bit ARM Linux with hardware floating point (Debian's armhf) with
# g++-arm-linux-gnueabihf.
set(CMAKE_SYSTEM_PROCESSOR arm)
set(VELMORAN_CROSS_TRIPLE arm-linux-gnueabihf)
set(VELMORAN_CROSS_EMULATOR qemu-arm-static)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
