#!/bin/sh
# SPDX-License-Identifier: BSD-2-Clause
# Build musl for the router (big-endian 32-bit MIPS, hard float) from
# Debian's musl source package with the cross compiler, cached beside the
# emulated router's kernel. Prints the install prefix, which
# cmake/mips-linux-musl.cmake takes as VOK_MUSL; $cache/musl points at it too.
#   scripts/musl.sh
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh musl
me=musl
. scripts/router/cache.sh

ver=$(source_version musl)
build() { # dir
	src=$(fetch_source musl "$ver" "$1")
	(cd "$src" && CC=${cross}gcc CROSS_COMPILE=$cross ./configure --target=mips-linux-gnu \
		--prefix="$1/install" --syslibdir="$1/install/lib" --disable-wrapper >/dev/null &&
		make -j"$jobs" >"$1/build.log" 2>&1 && make install >/dev/null) ||
		{ cat "$1/build.log" >&2; exit 1; }
	# make install links the loader by its absolute path, which the move breaks.
	ln -sf libc.so "$1/install/lib/ld-musl-mips.so.1"
	rm -rf "$src"
}
cached musl "$( { echo "$ver"; echo "$ccver"; } | hash)" "musl $ver" build
ln -sfn "$(basename "$dir")/install" "$cache/musl"
echo "$dir/install"
