# Toolchain for a cross build with one of Debian's cross compilers, named by
# its triplet (TRACELIB_CROSS_TRIPLET, e.g. arm-linux-gnueabihf). Programs
# (tests, and GoogleTest's discovery at build time) run under the qemu-user
# emulator TRACELIB_CROSS_QEMU (e.g. qemu-arm) with the target's libraries
# from /usr/<triplet>. CMakePresets.json sets both for each target.
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TRACELIB_CROSS_TRIPLET TRACELIB_CROSS_QEMU)
if(NOT TRACELIB_CROSS_TRIPLET OR NOT TRACELIB_CROSS_QEMU)
  message(FATAL_ERROR "set TRACELIB_CROSS_TRIPLET and TRACELIB_CROSS_QEMU")
endif()
string(REGEX REPLACE "-.*" "" cpu "${TRACELIB_CROSS_TRIPLET}")

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${cpu})
set(CMAKE_C_COMPILER ${TRACELIB_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${TRACELIB_CROSS_TRIPLET}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${TRACELIB_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${TRACELIB_CROSS_QEMU} -L /usr/${TRACELIB_CROSS_TRIPLET})
