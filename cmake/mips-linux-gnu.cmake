# SPDX-License-Identifier: BSD-2-Clause
# Cross build for the router: big-endian 32-bit MIPS, Linux, glibc.
# Another big-endian MIPS toolchain, with whatever C library it brings: its
# compiler prefix, with the trailing dash, and its sysroot; an OpenWrt SDK's:
#   -DVOK_CROSS_PREFIX=$T/bin/mips-openwrt-linux-musl- -DVOK_SYSROOT=$T
# for T=<sdk>/staging_dir/toolchain-mips_24kc_gcc-<version>_musl.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mips)

set(VOK_CROSS_PREFIX "mips-linux-gnu-" CACHE STRING "Cross compiler prefix")
set(VOK_SYSROOT "/usr/mips-linux-gnu" CACHE PATH "Target root: libraries for linking and for qemu-user")

set(CMAKE_C_COMPILER ${VOK_CROSS_PREFIX}gcc)
set(CMAKE_CXX_COMPILER ${VOK_CROSS_PREFIX}g++)
set(CMAKE_FIND_ROOT_PATH ${VOK_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-mips -L ${VOK_SYSROOT})
