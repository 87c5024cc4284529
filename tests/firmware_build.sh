#!/bin/sh
# SPDX-License-Identifier: BSD-2-Clause
# Builds and installs the tool as a firmware build system would, from a copy
# of only what ships, with a C++ compiler and no C compiler, and checks what
# it made.
#   tests/firmware_build.sh buildroot|openwrt|host SOURCE_DIR WORK_DIR [TOOLCHAIN_FILE]
# The toolchain file stands in for the build system's own.
set -eu
system=$1 top=$2 work=$3 toolchain=${4:-}
fail() { echo "$system: $*" >&2; exit 1; }

# Each system's arguments and target flags, as its cmake support passes them.
case $system in
buildroot)
	cflags="-D_LARGEFILE_SOURCE -D_LARGEFILE64_SOURCE -D_FILE_OFFSET_BITS=64 -Os -g0"
	ldflags=""
	set -- -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DBUILD_TESTING=OFF
	;;
openwrt)
	cflags="-Os -pipe -mips32r2 -mtune=24kc -fno-caller-saves -fstack-protector -D_FORTIFY_SOURCE=2 -Wformat -Werror=format-security"
	ldflags="-Wl,-z,now -Wl,-z,relro"
	# BUILD_TESTING comes from the package's CMAKE_OPTIONS, not cmake.mk.
	set -- -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_STRIP=: \
		-DCMAKE_C_FLAGS_RELEASE=-DNDEBUG -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG -DBUILD_TESTING=OFF
	;;
host)
	cflags="" ldflags=""
	set -- -DCMAKE_INSTALL_PREFIX=/usr -DBUILD_TESTING=OFF
	;;
*) fail "unknown build system" ;;
esac
[ -z "$toolchain" ] || set -- "$@" "-DCMAKE_TOOLCHAIN_FILE=$toolchain"

rm -rf "$work"
mkdir -p "$work/src"
src=$work/src build=$work/build stage=$work/stage
(cd "$top" && cp -R CMakeLists.txt cmake tools LICENSE LICENSES "$src/")
export CC=/nonexistent/cc
cmake -S "$src" -B "$build" "$@" \
	"-DCMAKE_C_FLAGS=$cflags" "-DCMAKE_CXX_FLAGS=$cflags" "-DCMAKE_EXE_LINKER_FLAGS=$ldflags" \
	>"$work/configure.log" 2>&1 || { cat "$work/configure.log" >&2; fail "configure failed"; }
cmake --build "$build" --verbose >"$work/build.log" 2>&1 || { cat "$work/build.log" >&2; fail "build failed"; }
DESTDIR=$stage cmake --install "$build" >"$work/install.log" 2>&1 ||
	{ cat "$work/install.log" >&2; fail "install failed"; }

# Theirs may make a warning an error (-Werror=format-security); ours may not.
if grep -E -- '-Werror( |$)' "$work/build.log" >&2; then
	fail "-Werror on a compile line"
fi
built=$(cd "$build" && find . -name '*.o' | sort | paste -sd ' ' -)
[ "$built" = ./CMakeFiles/vok_eth.dir/tools/vok_eth.cpp.o ] || fail "compiled more than the tool: $built"
files=$(cd "$stage" && find . ! -type d | sort | paste -sd ' ' -)
[ "$files" = "./usr/sbin/vok_eth ./usr/share/man/man8/vok_eth.8" ] || fail "installed: $files"
# glibc's MIPS stack protector canary lives in its loader: the toolchain's doing.
needed=$(readelf -d "$stage/usr/sbin/vok_eth" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' |
	grep -vx -e libc.so.6 -e ld.so.1 || true)
[ -z "$needed" ] || fail "NEEDED beyond the C library: $needed"
echo "$system: built, installed and checked"
