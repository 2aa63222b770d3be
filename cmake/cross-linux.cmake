# Cross build for another Linux processor with Debian's cross compilers (scripts/cross-build.sh).
# The libraries come from Debian's -dev packages of that processor, unpacked into a folder
# (KAVUN_CROSS_SYSROOT); programs are linked statically so that qemu-user runs them without a
# root folder of shared libraries.
#   KAVUN_CROSS_TRIPLET    compiler prefix, e.g. aarch64-linux-gnu
#   KAVUN_CROSS_MULTIARCH  Debian's library folder name, e.g. aarch64-linux-gnu, i386-linux-gnu
#   KAVUN_CROSS_PROCESSOR  e.g. aarch64, s390x, i686
#   KAVUN_CROSS_SYSROOT    the unpacked packages
#   KAVUN_CROSS_EMULATOR   the program that runs the built programs, e.g. qemu-aarch64
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KAVUN_CROSS_TRIPLET KAVUN_CROSS_MULTIARCH
    KAVUN_CROSS_PROCESSOR KAVUN_CROSS_SYSROOT KAVUN_CROSS_EMULATOR)

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${KAVUN_CROSS_PROCESSOR})
set(CMAKE_C_COMPILER ${KAVUN_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${KAVUN_CROSS_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${KAVUN_CROSS_MULTIARCH})

set(CMAKE_FIND_ROOT_PATH ${KAVUN_CROSS_SYSROOT} /usr/${KAVUN_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# jconfig.h and other per-processor headers live in the multiarch include folder.
set(CMAKE_C_FLAGS_INIT "-isystem ${KAVUN_CROSS_SYSROOT}/usr/include/${KAVUN_CROSS_MULTIARCH}")
set(CMAKE_CXX_FLAGS_INIT "-isystem ${KAVUN_CROSS_SYSROOT}/usr/include/${KAVUN_CROSS_MULTIARCH}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

if(KAVUN_CROSS_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KAVUN_CROSS_EMULATOR})
endif()
