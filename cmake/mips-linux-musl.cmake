# Cross build for the router against musl, as most router firmware links:
# big-endian 32-bit MIPS, Linux. The tool uses the C library only, so the C++
# file is compiled against musl's headers, not libstdc++'s, and linked
# against musl's libc alone: dynamic by default, as router packages are, with
# musl's loader as the interpreter; -DVOK_STATIC=ON links it statically.
# VOK_MUSL is musl's install prefix; scripts/musl.sh builds one from Debian's
# musl source package and prints it.
include(${CMAKE_CURRENT_LIST_DIR}/mips-linux-gnu.cmake)

if(DEFINED ENV{XDG_CACHE_HOME})
  set(vok_cache "$ENV{XDG_CACHE_HOME}")
else()
  set(vok_cache "$ENV{HOME}/.cache")
endif()
set(VOK_MUSL "${vok_cache}/vok_eth/musl" CACHE PATH "musl's install prefix for the router")
set(VOK_STATIC OFF CACHE BOOL "Link statically")
# Only the tool and the floor: the simulated switch and the suite run on glibc.
set(VOK_SWITCHSIM OFF CACHE BOOL "")

set(CMAKE_FIND_ROOT_PATH ${VOK_MUSL})
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-mips -L ${VOK_MUSL})

foreach(f include libgcc.a crtbeginS.o crtendS.o crtbeginT.o crtend.o)
  execute_process(COMMAND ${CMAKE_C_COMPILER} -print-file-name=${f}
    OUTPUT_VARIABLE vok_gcc_${f} OUTPUT_STRIP_TRAILING_WHITESPACE)
endforeach()

set(CMAKE_C_FLAGS_INIT "-nostdinc -isystem ${VOK_MUSL}/include -isystem ${vok_gcc_include}")
set(CMAKE_CXX_FLAGS_INIT "${CMAKE_C_FLAGS_INIT} -nostdinc++")

set(lib ${VOK_MUSL}/lib)
if(VOK_STATIC)
  set(vok_start "-static ${lib}/crt1.o ${lib}/crti.o ${vok_gcc_crtbeginT.o}")
  set(vok_end "${vok_gcc_crtend.o} ${lib}/crtn.o")
else()
  set(vok_start "-pie -Wl,-dynamic-linker,/lib/ld-musl-mips.so.1 ${lib}/Scrt1.o ${lib}/crti.o ${vok_gcc_crtbeginS.o}")
  set(vok_end "${vok_gcc_crtendS.o} ${lib}/crtn.o")
endif()
foreach(lang C CXX)
  set(CMAKE_${lang}_LINK_EXECUTABLE
    "<CMAKE_${lang}_COMPILER> <FLAGS> <CMAKE_${lang}_LINK_FLAGS> <LINK_FLAGS> -nostdlib ${vok_start} <OBJECTS> -o <TARGET> <LINK_LIBRARIES> -L${lib} -lc ${vok_gcc_libgcc.a} ${vok_end}")
endforeach()
