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
top=$(pwd)
me=uclibc
. scripts/router/cache.sh

conf=scripts/router/uclibc.config
tarball=
for t in /usr/src/uClibc-ng-*.tar.xz; do
	[ ! -f "$t" ] || tarball=$t
done
[ -n "$tarball" ] || { log "no /usr/src/uClibc-ng-*.tar.xz (scripts/deps.sh test installs uclibc-source)"; exit 1; }
ver=$(dpkg-query -W -f='${Version}' uclibc-source)
hver=$(dpkg-query -W -f='${Version}' linux-libc-dev-mips-cross)
key=$( { echo "$ver"; echo "$hver"; echo "$ccver"; cat "$conf"; } | hash)
dir=$cache/uclibc-$key
if [ ! -f "$dir/done" ]; then
	fresh_build uclibc "$key" "uClibc-ng $ver"
	# The kernel's own headers only: glibc's share their directory.
	headers=$dir/install/usr/include
	mkdir -p "$headers" "$dir/src"
	dpkg -L linux-libc-dev-mips-cross | sed -n 's|^/usr/mips-linux-gnu/include/\([^/]*\)$|\1|p' |
		while read -r d; do
			cp -r "/usr/mips-linux-gnu/include/$d" "$headers/"
		done
	tar -xf "$tarball" -C "$dir/src" --strip-components=1
	src=$dir/src
	(
		cd "$src" || exit 1
		make ARCH=mips defconfig >/dev/null || exit 1
		# The fragment's settings replace defconfig's.
		{ cat "$top/$conf"; echo "KERNEL_HEADERS=\"$headers\""; } | while read -r line; do
			case $line in
			*=*) sym=${line%%=*} ;;
			"# "*" is not set") sym=${line#\# }; sym=${sym%% *} ;;
			*) continue ;;
			esac
			sed -i -e "/^$sym=/d" -e "/^# $sym is not set/d" .config
			echo "$line" >>.config
		done
		make ARCH=mips olddefconfig >/dev/null || exit 1
		# A setting that did not take is a broken fragment.
		while read -r want; do
			grep -qxF "$want" .config || { log "$conf: $want did not take"; exit 1; }
		done <"$top/$conf"
		make -j"$jobs" ARCH=mips >"$dir/build.log" 2>&1 &&
			make ARCH=mips PREFIX="$dir/install" install >>"$dir/build.log" 2>&1
	) || {
		[ ! -f "$dir/build.log" ] || { tail -n 50 "$dir/build.log" >&2; log "build failed (log in $dir/build.log)"; }
		exit 1
	}
	rm -rf "$src"
	touch "$dir/done"
fi
ln -sfn "uclibc-$key/install" "$cache/uclibc"
echo "$dir/install"
