# SPDX-License-Identifier: BSD-2-Clause
# The part of a router toolchain file that links against a C library built
# here (musl, uClibc-ng) rather than the cross toolchain's glibc, for big-endian
# 32-bit MIPS. The tool uses the C library only, so the C++ file is compiled
# against that library's headers, not libstdc++'s, and linked against its libc
# alone: dynamic by default, as router packages are, with its loader as the
# interpreter; -DVOK_STATIC=ON links it statically.
# The including file names the library and its layout:
#   vok_libc          musl, uclibc: also names scripts/<it>.sh, which builds
#                     it and prints its prefix, taken as VOK_<IT>
#   vok_libc_include  its headers, under the prefix
#   vok_libc_lib      its crt*.o and libc, under the prefix
#   vok_libc_loader   the interpreter of a dynamic build
#   vok_libc_needed   the name a dynamic build NEEDs it as
include(${CMAKE_CURRENT_LIST_DIR}/mips-linux-gnu.cmake)

if(DEFINED ENV{XDG_CACHE_HOME})
  set(vok_cache "$ENV{XDG_CACHE_HOME}")
else()
  set(vok_cache "$ENV{HOME}/.cache")
endif()
string(TOUPPER "VOK_${vok_libc}" vok_prefix_var)
set(${vok_prefix_var} "${vok_cache}/vok_eth/${vok_libc}" CACHE PATH "${vok_libc}'s install prefix for the router")
# Only the tool and the floor: the simulated switch and the suite run on glibc.
set(VOK_SWITCHSIM OFF CACHE BOOL "")

set(vok_prefix ${${vok_prefix_var}})
set(vok_lib ${vok_prefix}/${vok_libc_lib})
# Without the library, CMake's compiler check would fail with a page of
# linker errors: skip it, and let the project stop with one line instead.
if(NOT EXISTS ${vok_lib}/crt1.o)
  set(VOK_TOOLCHAIN_ERROR "no ${vok_libc} in ${vok_prefix}: scripts/${vok_libc}.sh builds it and prints the -D${vok_prefix_var}= to give")
  set(CMAKE_C_COMPILER_WORKS ON)
  set(CMAKE_CXX_COMPILER_WORKS ON)
endif()

# For the target description (cmake/target.cmake).
set(VOK_LIBC ${vok_libc})
set(VOK_LIBC_NEEDED ${vok_libc_needed})
set(VOK_LIBC_PREFIX ${vok_prefix})

set(CMAKE_FIND_ROOT_PATH ${vok_prefix})
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-mips -L ${vok_prefix})

foreach(f include libgcc.a crtbeginS.o crtendS.o crtbeginT.o crtend.o)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${f}
    OUTPUT_VARIABLE vok_gcc_${f} OUTPUT_STRIP_TRAILING_WHITESPACE)
endforeach()

set(CMAKE_C_FLAGS_INIT "-nostdinc -isystem ${vok_prefix}/${vok_libc_include} -isystem ${vok_gcc_include}")
set(CMAKE_CXX_FLAGS_INIT "${CMAKE_C_FLAGS_INIT} -nostdinc++")

# The prefix is the linker's sysroot: a libc.so that is a linker script names
# its libraries by absolute paths, meant below the root they are installed in.
if(VOK_STATIC)
  set(vok_start "-static ${vok_lib}/crt1.o ${vok_lib}/crti.o ${vok_gcc_crtbeginT.o}")
  set(vok_end "${vok_gcc_crtend.o} ${vok_lib}/crtn.o")
else()
  set(vok_start "-pie -Wl,-dynamic-linker,${vok_libc_loader} ${vok_lib}/Scrt1.o ${vok_lib}/crti.o ${vok_gcc_crtbeginS.o}")
  set(vok_end "${vok_gcc_crtendS.o} ${vok_lib}/crtn.o")
endif()
foreach(lang C CXX)
  set(CMAKE_${lang}_LINK_EXECUTABLE
    "<CMAKE_${lang}_COMPILER> <FLAGS> <CMAKE_${lang}_LINK_FLAGS> <LINK_FLAGS> --sysroot=${vok_prefix} -nostdlib ${vok_start} <OBJECTS> -o <TARGET> <LINK_LIBRARIES> -L${vok_lib} -lc ${vok_gcc_libgcc.a} ${vok_end}")
endforeach()
