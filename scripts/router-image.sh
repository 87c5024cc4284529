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
# The kernel and busybox builds are cached (scripts/router/cache.sh), so a
# warm run costs seconds.
set -eu
cd "$(dirname "$0")/.."
build=$(cd "${1:-build-mips}" && pwd)
[ $# -eq 0 ] || shift
out=$build/router
sysroot=/usr/mips-linux-gnu
me=router-image
. scripts/router/cache.sh

# ---- kernel --------------------------------------------------------------
kver=$(dpkg-query -W -f='${Version}' linux-source-6.1)
kconf=scripts/router/kernel.config
kmake() { make -s -C "$kdir/src" O="$kdir/obj" ARCH=mips CROSS_COMPILE=$cross "$@"; }
build_kernel() { # dir
	kdir=$1
	mkdir -p "$kdir/src" "$kdir/obj"
	tar -xf /usr/src/linux-source-6.1.tar.xz -C "$kdir/src" --strip-components=1
	kmake tinyconfig >/dev/null
	merge_fragment "$kdir/obj/.config" <"$kconf"
	kmake olddefconfig >/dev/null 2>&1
	fragment_took "$kconf" "$kdir/obj/.config"
	kmake -j"$jobs" vmlinux modules
}
cached kernel "$( { echo "$kver"; echo "$ccver"; cat "$kconf"; } | hash)" \
	"the kernel (linux-source-6.1 $kver)" build_kernel
kdir=$dir

# ---- busybox -------------------------------------------------------------
bver=$(source_version busybox)
bconf=scripts/router/busybox.config
build_busybox() { # dir
	src=$(fetch_source busybox "$bver" "$1")
	make -s -C "$src" defconfig >/dev/null
	merge_fragment "$src/.config" <"$bconf"
	yes '' | make -s -C "$src" oldconfig >/dev/null
	make -s -C "$src" -j"$jobs" CROSS_COMPILE=$cross busybox >"$1/build.log" 2>&1 ||
		{ cat "$1/build.log" >&2; exit 1; }
	cp "$src/busybox" "$1/busybox"
	rm -rf "$src"
}
cached busybox "$( { echo "$bver"; echo "$ccver"; cat "$bconf"; } | hash)" "busybox $bver" \
	build_busybox
bdir=$dir

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
for d in bin sbin usr/bin usr/sbin lib/modules etc proc sys dev tmp root tests; do
	mkdir -p "$root/$d"
done
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
[ ! -x "$build/tests/vok_tests" ] ||
	${cross}strip -o "$root/tests/vok_tests" "$build/tests/vok_tests"
# One build of the tool, and its description for the suite: the build's own,
# with the paths the guest has, less what only the host runs.
add_tool() { # build_dir label
	suffix=${2#kernel}
	cp "$(conf "$1" tool)" "$root/usr/bin/vok_eth$suffix"
	cp "$(conf "$1" strerror)" "$root/tests/vok_strerror$suffix"
	libs=$(conf "$1" libc_root)/lib
	[ "$(conf "$1" static)" != 0 ] || case $(conf "$1" libc) in
	musl) cp -L "$libs/libc.so" "$root/lib/ld-musl-mips.so.1" ;;
	uclibc) cp -L "$libs/ld-uClibc.so.1" "$libs/libc.so.0" "$root/lib/" ;;
	esac
	{
		printf '%s\n' "name=$2" backend=kernel "tool=/usr/bin/vok_eth$suffix" \
			"strerror=/tests/vok_strerror$suffix" ethreg=/sbin/ethreg \
			switchsim=/usr/bin/switchsim module=/lib/modules/switchsim.ko \
			state_dir=/sys/kernel/debug/switchsim
		grep -E '^(libc|needed|static|big_endian|pointer_size|ifreq_size)=' "$1/target.conf"
	} >"$root/tests/$2.conf"
}
add_tool "$build" kernel
for extra in "$@"; do
	add_tool "$extra" "kernel-$(basename "$extra" | sed 's/^build-//')"
done
printf '%s\n' root:x:0:0:root:/root:/bin/sh nobody:x:65534:65534:nobody:/nonexistent:/bin/false \
	>"$root/etc/passwd"
printf 'root:x:0:\nnogroup:x:65534:\n' >"$root/etc/group"
(cd "$root" && find . | LC_ALL=C sort | cpio -o -H newc -R 0:0 --quiet) |
	gzip -1 >"$out/initramfs.cpio.gz"
log "ready in $out"
