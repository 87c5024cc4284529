#!/bin/sh
# SPDX-License-Identifier: BSD-2-Clause
# Build musl for the router (big-endian 32-bit MIPS, hard float) from
# Debian's musl source package with the cross compiler, cached beside the
# emulated router's kernel. Prints the install prefix, which
# cmake/mips-linux-musl.cmake takes as VOK_MUSL; $cache/musl points at it too.
#   scripts/musl.sh
set -eu
cd "$(dirname "$0")/.."
me=musl
. scripts/router/cache.sh

ver=$(source_version musl)
key=$( { echo "$ver"; echo "$ccver"; } | hash)
dir=$cache/musl-$key
if [ ! -f "$dir/done" ]; then
	fresh_build musl "$key" "musl $ver"
	src=$(fetch_source musl "$ver" "$dir")
	(cd "$src" && CC=${cross}gcc CROSS_COMPILE=$cross ./configure --target=mips-linux-gnu \
		--prefix="$dir/install" --syslibdir="$dir/install/lib" --disable-wrapper >/dev/null &&
		make -j"$jobs" >"$dir/build.log" 2>&1 && make install >/dev/null) ||
		{ cat "$dir/build.log" >&2; exit 1; }
	rm -rf "$src"
	touch "$dir/done"
fi
ln -sfn "musl-$key/install" "$cache/musl"
echo "$dir/install"
