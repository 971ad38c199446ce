# Cross-compiling for the board (64-bit ARM Linux) on a Debian 12 x86-64
# host with Debian's multiarch packages:
#
#   crossbuild-essential-arm64       the aarch64-linux-gnu-gcc/g++ compilers
#   <dependency>-dev:arm64           headers (shared) and arm64 libraries
#                                    under /usr/lib/aarch64-linux-gnu
#   qemu-user-static                 runs arm64 programs (tests, the geoid
#                                    converter of the build) on the host
#
# scripts/cross-build installs all of these and configures with
#   cmake -S . -B build-arm64 -G Ninja
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-aarch64-linux-gnu.cmake
#
# Debian's cross compilers search the multiarch folders of the host system
# itself (/usr/include/aarch64-linux-gnu, /usr/lib/aarch64-linux-gnu), so no
# separate sysroot is needed. Host programs (fastddsgen, ninja) are found on
# the host as usual; libraries, headers and packages only for the target.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CORVANE_CROSS_TRIPLE aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${CORVANE_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${CORVANE_CROSS_TRIPLE}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${CORVANE_CROSS_TRIPLE})

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_FIND_ROOT_PATH /)
# Only the target's library folder: without this, find_library could settle
# for an x86-64 library in /usr/lib/x86_64-linux-gnu.
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu)

# Test executables, and programs the build runs (the geoid converter), run
# on the host under user-mode emulation. CTest prefixes every test command
# with it, gtest discovery included.
find_program(CORVANE_QEMU_AARCH64 qemu-aarch64-static)
if(CORVANE_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CORVANE_QEMU_AARCH64})
endif()

# GeographicLib: Debian's libgeographiclib-dev is not multi-arch (it cannot
# be installed for amd64 and arm64 at once), but the run-time library
# libgeographiclib23:arm64 can be installed beside the host's, and the
# headers in /usr/include/GeographicLib (from the host's -dev package) are
# the same for both little-endian 64-bit targets (Config.h holds only the
# version and "long double is available"). So the arm64 build uses the host
# headers and links the arm64 library by its full versioned name, which is
# what GeographicLib's own find module (/usr/share/cmake/geographiclib)
# accepts as a preset cache value. This is the only place that knows.
set(GeographicLib_LIBRARIES /usr/lib/${CORVANE_CROSS_TRIPLE}/libGeographicLib.so.23
    CACHE FILEPATH "arm64 GeographicLib (libgeographiclib23:arm64); headers from the host's libgeographiclib-dev")
