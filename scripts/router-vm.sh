#!/bin/sh
# SPDX-License-Identifier: BSD-2-Clause
# Boot the emulated router: a big-endian MIPS malta board under
# qemu-system-mips, with the switch driver module loaded and vok_eth on PATH.
#   scripts/router-vm.sh                  a shell on the router's console;
#                                         `exit` powers it off (Ctrl-A x quits qemu)
#   scripts/router-vm.sh --test [FILTER]  run the test suite inside (kernel.*, and
#                                         kernel-musl.*, kernel-musl-static.*,
#                                         kernel-uclibc.*, kernel-uclibc-static.*
#                                         for the builds that are built), or
#                                         the tests that match a gtest FILTER
#   -B BUILD_DIR, first: the router build to use instead of build-mips
# Builds what is missing first: packages, the router build, and the image
# (scripts/router-image.sh).
set -eu
usage() {
	echo "usage: scripts/router-vm.sh [-B BUILD_DIR] [--test [GTEST_FILTER]]" >&2
	exit 2
}
build=build-mips
if [ "${1:-}" = -B ]; then
	[ $# -ge 2 ] || usage
	build=$(mkdir -p "$2" && cd "$2" && pwd)
	shift 2
fi
cd "$(dirname "$0")/.."
run=shell filter=
if [ "${1:-}" = --test ]; then
	run=tests filter=${2:-}
elif [ $# -gt 0 ]; then
	usage
fi

scripts/deps.sh router
# Configured each time, whatever configured the build before (or failed to):
# the image takes its programs from the target.conf this writes. A build
# configured before keeps its toolchain, and CMake would warn of the unused
# --toolchain.
guest=
[ $run = shell ] || guest=-DVOK_GUEST_TESTS=ON
cmake -S . -B "$build" --toolchain cmake/mips-linux-gnu.cmake --no-warn-unused-cli \
	-DBUILD_TESTING=ON -DVOK_SWITCHSIM=ON ${guest:+"$guest"} >/dev/null
if [ $run = tests ]; then
	cmake --build "$build" -j"$(nproc)" >/dev/null
else
	cmake --build "$build" -j"$(nproc)" --target vok_eth vok_strerror ethreg switchsim \
		>/dev/null
fi
# The musl and uClibc-ng builds of the tool come along where they have been
# built (with the tests: the suite's target.conf names their programs).
extras=
built() { [ -f "$(sed -n "s/^$1=//p" "$dir/target.conf")" ]; }
for dir in build-musl build-musl-static build-uclibc build-uclibc-static; do
	if [ -f "$dir/target.conf" ] && built tool && built strerror; then
		extras="$extras $dir"
	fi
done
# shellcheck disable=SC2086
scripts/router-image.sh "$build" $extras

image=$build/router
append="console=ttyS0 vok.run=$run${filter:+ vok.filter=$filter}"
# Tests: warnings and worse on the console, not the notices.
[ $run = shell ] || append="$append loglevel=5"
boot() { # [COMMAND ...] to run qemu under
	"$@" qemu-system-mips -M malta -m 256 -nographic -nic none -vga none -no-reboot \
		-kernel "$image/vmlinux" -initrd "$image/initramfs.cpio.gz" -append "$append"
}
if [ $run = shell ]; then
	boot
	exit
fi

# The whole suite takes a few minutes under emulation; a hang ends here.
console=$image/console.log
status=0
boot timeout 1200 </dev/null >"$console.raw" 2>&1 || status=$?
tr -d '\r' <"$console.raw" >"$console"
[ $status -eq 0 ] || echo "router-vm: qemu ended with status $status" >&2

# Each suite's results under its backend's name (kernel, kernel-musl, ...),
# with the reason for each skip and the details of each failure.
summary=$image/summary
awk -v summary="$summary" '
	/^vok-guest: suite [^ ]*$/ { name = $3; on = 1; next }
	/^vok-guest: suite [^ ]* exit [0-9]+$/ { on = 0; suites++; if ($5 != 0) bad++; next }
	!on || /^\[(==========|----------)\]/ || /^Note: / || /^$/ { next }
	/: Skipped$/ { getline why; next }
	/^\[  PASSED  \] [0-9]+ tests?\./ { passed += $4; next }
	/^\[  FAILED  \] [0-9]+ tests?, listed below:/ { failed += $4; next }
	/^\[  SKIPPED \] [0-9]+ tests?, listed below:/ { skipped += $4; next }
	/^\[ *(RUN|OK|FAILED|SKIPPED) *\] / {
		if (!/ ms\)$/)
			next
		sub(/\] /, "] " name ".")
		print
		if (/^\[  SKIPPED \]/)
			print "             (" why ")"
		next
	}
	{ print }
	END { print passed + 0, failed + 0, skipped + 0, suites + 0, bad + 0 > summary }
' "$console"
read -r passed failed skipped suites bad <"$summary"

fail=0
# WARN, BUG and Oops; lockdep's reports begin with WARNING: or BUG:, as does
# sleeping in atomic context; SLUB's with "BUG <cache>"; then UBSAN, debug
# objects (ODEBUG), and what init's kmemleak scan found.
faults='\<(WARNING|BUG)[: ]|\<INFO: |Oops|Kernel panic|Call Trace|\<UBSAN:|\<ODEBUG:|\<kmemleak[: ]'
if grep -nE "$faults" "$console" >&2; then
	echo "router-vm: the kernel reported a fault (console in $console)" >&2
	fail=1
fi
want=$(( $(echo "$extras" | wc -w) + 1 ))
if [ "$suites" -ne "$want" ] || [ "$bad" -ne 0 ] || [ "$passed" -eq 0 ]; then
	echo "router-vm: $suites of $want suites finished, $bad of them failing" \
		"(console in $console)" >&2
	fail=1
fi
grep -q '^vok-guest: module unloaded$' "$console" ||
	{ echo "router-vm: the switch driver did not unload" >&2; fail=1; }
if [ $fail -ne 0 ] && [ "$failed" -eq 0 ]; then
	failed=1
fi
echo "kernel: $passed passed, $failed failed, $skipped skipped"
exit $fail
