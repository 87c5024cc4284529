#!/bin/sh
# SPDX-License-Identifier: BSD-2-Clause
# Build uClibc-ng for the router (big-endian 32-bit MIPS, o32, hard float)
# from Debian's uclibc-source with the cross compiler, cached beside the
# emulated router's kernel. Prints the install prefix, which
# cmake/mips-linux-uclibc.cmake takes as VOK_UCLIBC; $cache/uclibc points at
# it too. Without threads: the tool has none, and it builds in half the time.
#   scripts/uclibc.sh
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh uclibc
me=uclibc
. scripts/router/cache.sh

conf=scripts/router/uclibc.config
tarball=
for t in /usr/src/uClibc-ng-*.tar.xz; do
	[ ! -f "$t" ] || tarball=$t
done
[ -n "$tarball" ] || {
	log "no /usr/src/uClibc-ng-*.tar.xz, which uclibc-source installs"
	exit 1
}
ver=$(dpkg-query -W -f='${Version}' uclibc-source)
hver=$(dpkg-query -W -f='${Version}' linux-libc-dev-mips-cross)
build() { # dir
	# The kernel's own headers only: glibc's share their directory.
	headers=$1/install/usr/include
	src=$1/src
	mkdir -p "$headers" "$src"
	dpkg -L linux-libc-dev-mips-cross |
		sed -n 's|^/usr/mips-linux-gnu/include/\([^/]*\)$|\1|p' | while read -r d; do
			cp -r "/usr/mips-linux-gnu/include/$d" "$headers/"
		done
	tar -xf "$tarball" -C "$src" --strip-components=1
	make -C "$src" ARCH=mips defconfig >/dev/null
	{ cat "$conf"; echo "KERNEL_HEADERS=\"$headers\""; } | merge_fragment "$src/.config"
	make -C "$src" ARCH=mips olddefconfig >/dev/null
	fragment_took "$conf" "$src/.config"
	{ make -C "$src" -j"$jobs" ARCH=mips &&
		make -C "$src" ARCH=mips PREFIX="$1/install" install; } >"$1/build.log" 2>&1 ||
		{ tail -n 50 "$1/build.log" >&2; log "build failed (log in $1/build.log)"; exit 1; }
	rm -rf "$src"
}
cached uclibc "$( { echo "$ver"; echo "$hver"; echo "$ccver"; cat "$conf"; } | hash)" \
	"uClibc-ng $ver" build
ln -sfn "$(basename "$dir")/install" "$cache/uclibc"
echo "$dir/install"
