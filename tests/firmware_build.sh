#!/bin/sh
# SPDX-License-Identifier: BSD-2-Clause
# Builds and installs the tool as a firmware build system would, from a copy
# of only what ships, with a C++ compiler and no C compiler, and checks what
# it made; or checks that a configure of the sources stops with one line
# naming the option at fault.
#   tests/firmware_build.sh SYSTEM[.VARIANT] SOURCE_DIR WORK_DIR [TOOLCHAIN_FILE]
#   tests/firmware_build.sh refuse SOURCE_DIR WORK_DIR OPTION CMAKE_ARG...
# SYSTEM is buildroot, openwrt or host; the toolchain file stands in for the
# build system's own. VARIANT cxx98 compiles with a g++ that knows only
# C++98 (tests/old_gxx.sh), static adds -DVOK_STATIC=ON.
set -eu
name=$1 system=${1%%.*} variant=${1#"${1%%.*}"} top=$2 work=$3 toolchain=${4:-}
fail() { echo "$name: $*" >&2; exit 1; }
here=$(cd "$(dirname "$0")" && pwd)

if [ "$system" = refuse ]; then
	option=$4 name="refuse $4"
	shift 4
	rm -rf "$work"
	mkdir -p "$work"
	if cmake -S "$top" -B "$work/build" "$@" >"$work/configure.log" 2>&1; then
		fail "configured"
	fi
	# One error, and what follows its "CMake Error at ...:" up to a blank line.
	said=$(awk '/^CMake Error/ { on = 1; next } on && /^$/ { exit } on' "$work/configure.log")
	if [ "$(grep -c '^CMake Error' "$work/configure.log")" -ne 1 ] ||
		[ "$(printf '%s\n' "$said" | wc -l)" -ne 1 ] || ! printf %s "$said" | grep -qF "$option"; then
		cat "$work/configure.log" >&2
		fail "not refused in one line naming it"
	fi
	echo "$name:$said"
	exit 0
fi

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
case $variant in
'') ;;
.cxx98) set -- "$@" "-DCMAKE_CXX_COMPILER_LAUNCHER=$here/old_gxx.sh" ;;
.static) set -- "$@" -DVOK_STATIC=ON ;;
*) fail "unknown variant" ;;
esac

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
tool=$stage/usr/sbin/vok_eth
needed=$(readelf -d "$tool" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' |
	grep -vx -e libc.so.6 -e ld.so.1 || true)
[ -z "$needed" ] || fail "NEEDED beyond the C library: $needed"
case $variant in
.cxx98)
	grep -F vok_eth.cpp "$work/build.log" | grep -qF "$here/old_gxx.sh" ||
		fail "the tool was not compiled through old_gxx.sh"
	;;
.static)
	if readelf -lW "$tool" | grep -q INTERP || readelf -dW "$tool" | grep -q NEEDED; then
		fail "not static: $(readelf -lW "$tool" | grep -A1 INTERP) $(readelf -dW "$tool" | grep NEEDED)"
	fi
	;;
esac
echo "$name: built, installed and checked"
