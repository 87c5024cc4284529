# SPDX-License-Identifier: BSD-2-Clause
# Cross build for the router against musl, as most router firmware links:
# big-endian 32-bit MIPS, Linux (cmake/own-libc.cmake says how).
# VOK_MUSL is musl's install prefix; scripts/musl.sh builds one from Debian's
# musl source package and prints it.
set(vok_libc musl)
set(vok_libc_include include)
set(vok_libc_lib lib)
set(vok_libc_loader /lib/ld-musl-mips.so.1)
set(vok_libc_needed libc.so)
include(${CMAKE_CURRENT_LIST_DIR}/own-libc.cmake)
