# For a cross-build: the target's libraries, headers and packages come from the cross
# toolchain's folder /usr/VELMORAN_CROSS_TRIPLE only, and programs from this machine.
set(CMAKE_FIND_ROOT_PATH /usr/${VELMORAN_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
