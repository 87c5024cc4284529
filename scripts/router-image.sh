#!/bin/sh
# SPDX-License-Identifier: BSD-2-Clause
# Build the emulated router from Debian packages alone: a big-endian MIPS32
# malta kernel from linux-source-6.1, a static busybox from Debian's busybox
# source package, the switch driver module, and an initramfs that holds the
# cross sysroot's C library, the tool, the register tool stand-in and the
# guest's test suite.
#   scripts/router-image.sh [MIPS_BUILD_DIR [TOOL_BUILD_DIR ...]]
# MIPS_BUILD_DIR (default build-mips) is the glibc router build with the
# simulated switch and the guest's suite; each TOOL_BUILD_DIR adds another
# build of the tool (build-musl: vok_eth-musl), which the suite runs against
# too. Writes MIPS_BUILD_DIR/router/{vmlinux,initramfs.cpio.gz,switchsim.ko}.
#
# The kernel and busybox builds are cached in
# ${XDG_CACHE_HOME:-$HOME/.cache}/vok_eth/, keyed by a hash of the package
# versions, the compiler version and the config, so a warm run costs seconds.
# Source packages come through a private deb-src list under that directory;
# the machine's own apt setup is left as it is.
set -eu
cd "$(dirname "$0")/.."
top=$(pwd)
build=$(cd "${1:-build-mips}" && pwd)
[ $# -eq 0 ] || shift
out=$build/router
sysroot=/usr/mips-linux-gnu
me=router-image
. scripts/router/cache.sh

# ---- kernel --------------------------------------------------------------
kver=$(dpkg-query -W -f='${Version}' linux-source-6.1)
kconf=scripts/router/kernel.config
kkey=$( { echo "$kver"; echo "$ccver"; cat "$kconf"; } | hash)
kdir=$cache/kernel-$kkey
kmake() { make -s -C "$kdir/src" O="$kdir/obj" ARCH=mips CROSS_COMPILE=$cross "$@"; }
if [ ! -f "$kdir/done" ]; then
	fresh_build kernel "$kkey" "the kernel (linux-source-6.1 $kver)"
	mkdir -p "$kdir/src" "$kdir/obj"
	tar -xf /usr/src/linux-source-6.1.tar.xz -C "$kdir/src" --strip-components=1
	kmake tinyconfig >/dev/null
	"$kdir/src/scripts/kconfig/merge_config.sh" -m -O "$kdir/obj" \
		"$kdir/obj/.config" "$top/$kconf" >/dev/null 2>&1
	kmake olddefconfig >/dev/null 2>&1
	# A symbol the kernel dropped (a missing dependency) is a broken fragment.
	grep '^CONFIG_' "$kconf" | while read -r want; do
		grep -qx "$want" "$kdir/obj/.config" ||
			{ log "$kconf: $want did not take"; exit 1; }
	done
	kmake -j"$jobs" vmlinux modules
	touch "$kdir/done"
fi

# ---- busybox -------------------------------------------------------------
bver=$(source_version busybox)
bconf=scripts/router/busybox.config
bkey=$( { echo "$bver"; echo "$ccver"; cat "$bconf"; } | hash)
bdir=$cache/busybox-$bkey
if [ ! -f "$bdir/done" ]; then
	fresh_build busybox "$bkey" "busybox $bver"
	src=$(fetch_source busybox "$bver" "$bdir")
	make -s -C "$src" defconfig >/dev/null
	# The fragment's settings replace defconfig's.
	while read -r line; do
		case $line in
		CONFIG_*=*) sym=${line%%=*} ;;
		"# CONFIG_"*" is not set") sym=${line#\# }; sym=${sym%% *} ;;
		*) continue ;;
		esac
		sed -i -e "/^$sym=/d" -e "/^# $sym is not set/d" "$src/.config"
		echo "$line" >>"$src/.config"
	done <"$bconf"
	yes '' | make -s -C "$src" oldconfig >/dev/null
	make -s -C "$src" -j"$jobs" CROSS_COMPILE=$cross busybox >"$bdir/build.log" 2>&1 ||
		{ cat "$bdir/build.log" >&2; exit 1; }
	cp "$src/busybox" "$bdir/busybox"
	rm -rf "$src"
	touch "$bdir/done"
fi

# ---- the switch driver module -------------------------------------------
rm -rf "$out"
mkdir -p "$out/kmod"
# The model beside the module, as in the tree: the module #includes it.
cp -R switchsim/kernel switchsim/model "$out/kmod/"
kmake M="$out/kmod/kernel" W=1 modules >"$out/kmod/build.log" 2>&1 ||
	{ cat "$out/kmod/build.log" >&2; exit 1; }
if grep -qi 'warning' "$out/kmod/build.log"; then
	cat "$out/kmod/build.log" >&2
	log "the module must build without warnings"
	exit 1
fi
cp "$out/kmod/kernel/switchsim.ko" "$out/switchsim.ko"
cp "$kdir/obj/vmlinux" "$out/vmlinux"

# ---- initramfs -----------------------------------------------------------
root=$out/rootfs
mkdir -p "$root/bin" "$root/sbin" "$root/usr/bin" "$root/usr/sbin" "$root/lib/modules" \
	"$root/etc" "$root/proc" "$root/sys" "$root/dev" "$root/tmp" "$root/root" "$root/tests"
cp "$bdir/busybox" "$root/bin/busybox"
ln -s busybox "$root/bin/sh"
cp scripts/router/init "$root/init"
chmod 755 "$root/init"
for lib in ld.so.1 libc.so.6 libm.so.6 libstdc++.so.6 libgcc_s.so.1; do
	cp -L "$sysroot/lib/$lib" "$root/lib/$lib"
done
conf() { sed -n "s/^$2=//p" "$1/target.conf"; }
cp "$build/switchsim/ethreg" "$root/sbin/ethreg"
cp "$build/switchsim/switchsim" "$root/usr/bin/switchsim"
cp "$out/switchsim.ko" "$root/lib/modules/switchsim.ko"
[ ! -x "$build/tests/vok_tests" ] || ${cross}strip -o "$root/tests/vok_tests" "$build/tests/vok_tests"
# One build of the tool, and what the suite needs to know of it.
add_tool() { # build_dir label
	suffix=${2#kernel}
	cp "$(conf "$1" tool)" "$root/usr/bin/vok_eth$suffix"
	cp "$(conf "$1" strerror)" "$root/tests/vok_strerror$suffix"
	if [ "$(conf "$1" libc)" = musl ] && [ "$(conf "$1" static)" = 0 ]; then
		cp -L "$(conf "$1" libc_root)/lib/libc.so" "$root/lib/ld-musl-mips.so.1"
	fi
	if [ "$(conf "$1" libc)" = uclibc ] && [ "$(conf "$1" static)" = 0 ]; then
		cp -L "$(conf "$1" libc_root)/lib/ld-uClibc.so.1" "$(conf "$1" libc_root)/lib/libc.so.0" "$root/lib/"
	fi
	cat >"$root/tests/$2.conf" <<EOF
name=$2
backend=kernel
tool=/usr/bin/vok_eth$suffix
strerror=/tests/vok_strerror$suffix
libc=$(conf "$1" libc)
needed=$(conf "$1" needed)
static=$(conf "$1" static)
ethreg=/sbin/ethreg
switchsim=/usr/bin/switchsim
module=/lib/modules/switchsim.ko
state_dir=/sys/kernel/debug/switchsim
big_endian=$(conf "$1" big_endian)
pointer_size=$(conf "$1" pointer_size)
ifreq_size=$(conf "$1" ifreq_size)
EOF
}
add_tool "$build" kernel
for extra in "$@"; do
	add_tool "$extra" "kernel-$(basename "$extra" | sed 's/^build-//')"
done
printf 'root:x:0:0:root:/root:/bin/sh\nnobody:x:65534:65534:nobody:/nonexistent:/bin/false\n' >"$root/etc/passwd"
printf 'root:x:0:\nnogroup:x:65534:\n' >"$root/etc/group"
(cd "$root" && find . | LC_ALL=C sort | cpio -o -H newc -R 0:0 --quiet) | gzip -1 >"$out/initramfs.cpio.gz"
log "ready in $out"
