#!/bin/sh
# Boot the emulated router: a big-endian MIPS malta board under
# qemu-system-mips, with the switch driver module loaded and vok_eth on PATH.
#   scripts/router-vm.sh                  a shell on the router's console;
#                                         `exit` powers it off (Ctrl-A x quits qemu)
#   scripts/router-vm.sh --test [FILTER]  run the test suite inside (kernel.*),
#                                         or the tests that match a gtest FILTER
# Builds what is missing first: packages, the router build in build-mips, and
# the image (scripts/router-image.sh).
set -eu
cd "$(dirname "$0")/.."
build=build-mips
run=shell filter=
if [ "${1:-}" = --test ]; then
	run=tests filter=${2:-}
elif [ $# -gt 0 ]; then
	echo "usage: scripts/router-vm.sh [--test [GTEST_FILTER]]" >&2
	exit 2
fi

scripts/deps.sh router
if [ ! -f "$build/target.conf" ]; then
	cmake -S . -B "$build" --toolchain cmake/mips-linux-gnu.cmake >/dev/null
fi
if [ $run = shell ]; then
	cmake --build "$build" -j"$(nproc)" --target vok_eth ethreg switchsim >/dev/null
fi
scripts/router-image.sh "$build"

image=$build/router
append="console=ttyS0 vok.run=$run${filter:+ vok.filter=$filter}"
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

# The suite's own lines, named as the third backend.
sed -n '/^\[==========\] Running/,/^\[==========\].*ran\./{p;d}; /^\[  PASSED  \]/p; /^\[  FAILED  \]/p' \
	"$console" | sed 's/^\(\[ *\(RUN\|OK\|FAILED\|SKIPPED\) *\] \)\([A-Za-z]\)/\1kernel.\3/'
# Why each skipped test was skipped: the line after gtest's "Skipped".
awk '/: Skipped$/ { getline why; next } /^\[  SKIPPED \] [A-Za-z].* ms\)$/ { print "skipped kernel." $4 ": " why }' "$console"

fail=0
if grep -nE 'WARNING: CPU|BUG: |Oops|Kernel panic|Call Trace' "$console" >&2; then
	echo "router-vm: the kernel reported a fault (console in $console)" >&2
	fail=1
fi
grep -q '^vok-guest: suite exit 0$' "$console" || fail=1
grep -q '^vok-guest: module unloaded$' "$console" ||
	{ echo "router-vm: the switch driver did not unload" >&2; fail=1; }
passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\..*/\1/p' "$console")
failed=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) tests\{0,1\}, listed below:/\1/p' "$console")
skipped=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\{0,1\}, listed below:/\1/p' "$console")
passed=${passed:-0} failed=${failed:-0} skipped=${skipped:-0}
[ "$passed" -gt 0 ] || fail=1
if [ $fail -ne 0 ] && [ "$failed" -eq 0 ]; then
	failed=1
	echo "router-vm: the run did not finish cleanly (console in $console)" >&2
fi
echo "kernel: $passed passed, $failed failed, $skipped skipped"
exit $fail
