# SPDX-License-Identifier: BSD-2-Clause
# Cross build for the router against uClibc-ng, as many vendor SDKs link:
# big-endian 32-bit MIPS, Linux (cmake/own-libc.cmake says how).
# VOK_UCLIBC is uClibc-ng's install prefix; scripts/uclibc.sh builds one from
# Debian's uclibc-source and prints it.
set(vok_libc uclibc)
set(vok_libc_include usr/include)
set(vok_libc_lib usr/lib)
set(vok_libc_loader /lib/ld-uClibc.so.1)
set(vok_libc_needed libc.so.0)
include(${CMAKE_CURRENT_LIST_DIR}/own-libc.cmake)
