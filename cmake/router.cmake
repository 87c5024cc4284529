# SPDX-License-Identifier: BSD-2-Clause
# How a program for the router is compiled and linked: small, C library only.
# libstdc++ is never used, so --as-needed leaves libc the only NEEDED entry.
# -DVOK_STATIC=ON links the toolchain's C library in; cmake/own-libc.cmake
# has link rules of its own for that.
function(vok_router_flags target)
  target_compile_options(${target} PRIVATE
    -Os -fno-asynchronous-unwind-tables -fno-unwind-tables
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>)
  target_link_options(${target} PRIVATE -Wl,--as-needed -Wl,--gc-sections)
  if(VOK_STATIC AND NOT VOK_LIBC)
    target_link_options(${target} PRIVATE -static)
  endif()
endfunction()
