# SPDX-License-Identifier: BSD-2-Clause
# Describe this build to the test suite: where its programs are, how to run
# them, and the facts of its target that byte-level checks depend on. A host
# test build reads this file from its own build tree and from the router build.
include(CheckTypeSize)
set(CMAKE_EXTRA_INCLUDE_FILES net/if.h)
check_type_size("struct ifreq" VOK_IFREQ_SIZE LANGUAGE CXX)
unset(CMAKE_EXTRA_INCLUDE_FILES)

if(CMAKE_CROSSCOMPILING)
  list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " VOK_RUNNER)
  set(VOK_SIZE_BUDGET 8192)  # the router's flash
else()
  set(VOK_RUNNER "")
  set(VOK_SIZE_BUDGET 0)
endif()
if(VOK_SWITCHSIM)
  string(STRIP "${VOK_RUNNER} $<TARGET_FILE:ethreg>" VOK_ETHREG)
  set(VOK_PRELOAD "$<TARGET_FILE:switchsim_preload>")
  # Built only with the tests, not for the simulated switch alone.
  set(VOK_PROBE "$<$<TARGET_EXISTS:preload_probe>:$<TARGET_FILE:preload_probe>>")
else()
  set(VOK_ETHREG "")
  set(VOK_PRELOAD "")
  set(VOK_PROBE "")
endif()
# The C library the tool is linked against, by the name it is NEEDED as,
# and the root its loader and libraries are found under.
if(VOK_LIBC)  # from cmake/own-libc.cmake
  set(VOK_NEEDED ${VOK_LIBC_NEEDED})
  set(VOK_LIBC_ROOT ${VOK_LIBC_PREFIX})
else()
  set(VOK_LIBC glibc)
  set(VOK_NEEDED libc.so.6)
  set(VOK_LIBC_ROOT "${VOK_SYSROOT}")
endif()
if(VOK_STATIC)
  set(VOK_NEEDED "")
  set(VOK_SIZE_BUDGET 0)  # the C library comes along: reported, not budgeted
endif()
if(CMAKE_CXX_BYTE_ORDER STREQUAL "BIG_ENDIAN")
  set(VOK_BIG_ENDIAN 1)
else()
  set(VOK_BIG_ENDIAN 0)
endif()
if(NOT CMAKE_READELF)
  set(CMAKE_READELF readelf)
endif()

file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/target.conf CONTENT
"name=${CMAKE_SYSTEM_PROCESSOR}
tool=$<TARGET_FILE:vok_eth>
floor=$<TARGET_FILE:vok_floor>
strerror=$<TARGET_FILE:vok_strerror>
preload=${VOK_PRELOAD}
probe=${VOK_PROBE}
ethreg=${VOK_ETHREG}
libc=${VOK_LIBC}
libc_root=${VOK_LIBC_ROOT}
needed=${VOK_NEEDED}
static=$<BOOL:${VOK_STATIC}>
runner=${VOK_RUNNER}
big_endian=${VOK_BIG_ENDIAN}
pointer_size=${CMAKE_SIZEOF_VOID_P}
ifreq_size=${VOK_IFREQ_SIZE}
readelf=${CMAKE_READELF}
strip=${CMAKE_STRIP}
nm=${CMAKE_NM}
size_budget=${VOK_SIZE_BUDGET}
sanitized=$<BOOL:${VOK_SANITIZE}>
")
