#!/bin/sh
# SPDX-License-Identifier: BSD-2-Clause
# Size, NEEDED libraries and, on the host, instructions executed by
# `vok_eth -s` against the simulated switch, beside the same figures of the
# C floor (bench/floor.c, built with the same flags).
#   bench/run.sh [BUILD_DIR ...]     default: build build-mips build-musl build-musl-static
#                                  build-uclibc build-uclibc-static
# Instructions are counted by callgrind, less what the simulated switch's
# own start-up, socket(), ioctl() and close() cost, so only the program is
# compared.
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh bench
[ $# -gt 0 ] || set -- build build-mips build-musl build-musl-static build-uclibc build-uclibc-static
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

conf() { sed -n "s/^$2=//p" "$1/target.conf"; }

instructions() { # build program
	out="$tmp/cg.out"
	SWITCHSIM_DIR="$tmp" LD_PRELOAD="$(conf "$1" preload)" \
		valgrind --tool=callgrind --callgrind-out-file="$out" "$2" -s >/dev/null 2>&1
	callgrind_annotate --inclusive=yes "$out" 2>/dev/null | awk '
		/PROGRAM TOTALS/ { gsub(",", "", $1); total = $1 }
		/libswitchsim\.so\]/ && /:(switchsim_init\(\)|socket|ioctl|close) / { gsub(",", "", $1); sim += $1 }
		END { print total - sim }'
}

printf '%-18s %-9s %9s  %-24s %12s\n' target program stripped NEEDED instructions
for b in "$@"; do
	[ -f "$b/target.conf" ] || { echo "bench: $b: not built" >&2; exit 1; }
	name=$(conf "$b" name)-$(conf "$b" libc)
	[ "$(conf "$b" static)" != 1 ] || name=$name-static
	for prog in tool floor; do
		bin=$(conf "$b" $prog)
		"$(conf "$b" strip)" -o "$tmp/stripped" "$bin"
		size=$(stat -c %s "$tmp/stripped")
		needed=$("$(conf "$b" readelf)" -d "$bin" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | paste -sd, -)
		ins=-
		[ -n "$(conf "$b" runner)" ] || ins=$(instructions "$b" "$bin")
		printf '%-18s %-9s %9s  %-24s %12s\n' "$name" "$(basename "$bin")" "$size" "$needed" "$ins"
		eval "${prog}_size=$size ${prog}_ins=$ins"
	done
	# shellcheck disable=SC2154
	awk -v n="$name" -v ts="$tool_size" -v fs="$floor_size" -v ti="$tool_ins" -v fi="$floor_ins" 'BEGIN {
		r = fi == "-" ? "-" : sprintf("%.3f", ti / fi)
		printf "%-18s %-9s %9.3f  %-24s %12s\n", n, "ratio", ts / fs, "", r }'
done
