# Cross-build for 64-bit ARM Linux (Debian's arm64) with g++-aarch64-linux-gnu.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(VELMORAN_CROSS_TRIPLE aarch64-linux-gnu)
set(VELMORAN_CROSS_EMULATOR qemu-aarch64-static)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
