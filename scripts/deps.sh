#!/bin/sh
# SPDX-License-Identifier: BSD-2-Clause
# Install the Debian packages a task needs, only those that are missing.
#   scripts/deps.sh demo   build the tool and the simulated switch
#   scripts/deps.sh fuzz   also GoogleTest, for scripts/fuzz.sh
#   scripts/deps.sh router build and boot the emulated router
#   scripts/deps.sh musl   build musl for the router (scripts/musl.sh)
#   scripts/deps.sh uclibc build uClibc-ng for the router (scripts/uclibc.sh)
#   scripts/deps.sh test   all of those, qemu-user and checkers
#   scripts/deps.sh bench  also valgrind, for bench/run.sh
set -eu
pkgs="cmake make g++"
# The emulated router: its kernel, busybox and guest test suite are built here.
router="g++-mips-linux-gnu googletest linux-source-6.1 qemu-system-mips flex bison bc cpio
	xz-utils dpkg-dev"
# The C libraries: musl from its Debian source package (dpkg-source unpacks
# it), uClibc-ng from uclibc-source against the cross kernel headers.
musl="g++-mips-linux-gnu xz-utils dpkg-dev"
uclibc="g++-mips-linux-gnu xz-utils uclibc-source linux-libc-dev-mips-cross"
case "${1:-}" in
demo) ;;
fuzz) pkgs="$pkgs libgtest-dev" ;;
router) pkgs="$pkgs $router" ;;
musl) pkgs="$pkgs $musl" ;;
uclibc) pkgs="$pkgs $uclibc" ;;
test) pkgs="$pkgs ccache libgtest-dev $musl $uclibc qemu-user
	strace binutils clang-tidy cppcheck mandoc $router" ;;
bench) pkgs="$pkgs valgrind binutils" ;;
*) echo "usage: scripts/deps.sh demo|fuzz|router|musl|uclibc|test|bench" >&2; exit 2 ;;
esac

missing=""
for p in $pkgs; do
	dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q 'install ok installed' ||
		missing="$missing $p"
done
[ -z "$missing" ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
	echo "deps: missing Debian packages:$missing (run as root to install them)" >&2
	exit 1
fi
echo "deps: installing$missing" >&2
export DEBIAN_FRONTEND=noninteractive
apt-get update -q >/dev/null
apt-get install -y -q --no-install-recommends $missing >/dev/null
