#!/bin/sh
# SPDX-License-Identifier: BSD-2-Clause
# Install what is missing, build for this machine and for the router
# (big-endian 32-bit MIPS; glibc, and musl and uClibc-ng dynamic and static),
# with warnings as errors, and run the
# whole suite against the host and glibc router builds, then the host suite
# once more under the sanitizers, and meanwhile the suite inside the emulated
# router against every router build.
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh test
# Compiles are cached beside the kernel's build, whatever the clone's path.
export CCACHE_DIR="${XDG_CACHE_HOME:-$HOME/.cache}/vok_eth/ccache" CCACHE_BASEDIR="$PWD" \
	CCACHE_NOHASHDIR=1 CCACHE_MAXSIZE=2G
cached="-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
# Every build with its tests: a plain configure has none. What they need and
# is missing stops the configure (GoogleTest is REQUIRED), and a build
# without tests stops ctest.
tests=-DBUILD_TESTING=ON

# CTest names the skipped tests; GoogleTest's log says why.
skipped() {
	awk '/^[0-9]+\/[0-9]+ Test: / { name = $3 }
	     / Skipped$/ && name { getline why; print "skipped: " name ": " why }' \
		"$1/Testing/Temporary/LastTest.log"
}

cmake -S . -B build-mips --toolchain cmake/mips-linux-gnu.cmake $tests \
	-DVOK_GUEST_TESTS=ON -DVOK_WERROR=ON $cached >/dev/null
cmake --build build-mips -j2
# The router builds against musl and uClibc-ng, dynamic and static:
# build-LIBC and build-LIBC-static.
own_libc() { # libc prefix
	for static in OFF ON; do
		dir=build-$1$([ $static = OFF ] || echo -static)
		cmake -S . -B "$dir" --toolchain "cmake/mips-linux-$1.cmake" \
			"-DVOK_$(echo "$1" | tr a-z A-Z)=$2" -DVOK_STATIC=$static -DVOK_WERROR=ON \
			$tests $cached >/dev/null
		cmake --build "$dir" -j2
	done
}
musl=$(scripts/musl.sh)
own_libc musl "$musl"
uclibc=$(scripts/uclibc.sh)
own_libc uclibc "$uclibc"

# The suite once more inside the emulated router, against the switch driver
# as a kernel module: kernel.*, kernel-musl.*, kernel-musl-static.*,
# kernel-uclibc.*, kernel-uclibc-static.*. Its qemu takes one core, so it
# runs beside the host's suites, in a process group of its own that goes
# with this script; its report follows theirs.
guest_log=build-mips/router-test.log
setsid scripts/router-vm.sh --test >"$guest_log" 2>&1 &
guest=$!
trap 'kill -- -$guest 2>/dev/null' EXIT
cmake -S . -B build $tests -DVOK_WERROR=ON -DVOK_MIPS_BUILD=build-mips $cached \
	"-DVOK_LIBC_BUILDS=build-musl;build-musl-static;build-uclibc;build-uclibc-static" >/dev/null
cmake --build build -j2
ctest --test-dir build -j2 --output-on-failure --no-tests=error
skipped build

# The host suite again with AddressSanitizer and UndefinedBehaviorSanitizer.
cmake -S . -B build-asan $tests -DVOK_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DVOK_WERROR=ON \
	$cached >/dev/null
cmake --build build-asan -j2
ctest --test-dir build-asan -j2 --output-on-failure --no-tests=error
skipped build-asan

status=0
wait $guest || status=$?
trap - EXIT
cat "$guest_log"
exit $status
