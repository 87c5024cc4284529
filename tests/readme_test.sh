#!/bin/sh
# SPDX-License-Identifier: BSD-2-Clause
# Runs the commands of README.md's sh blocks as written, in its order, on a
# copy of the checkout, and checks what each one made; the emulated router's
# command runs on a build directory of its own, with a console session on its
# standard input.
#   tests/readme_test.sh SOURCE_DIR WORK_DIR
set -eu
top=$1 work=$2
cross=mips-linux-gnu-
for tool in ${cross}g++ qemu-system-mips; do
	command -v "$tool" >/dev/null || { echo "readme: no $tool, skipped"; exit 77; }
done
fail() { echo "readme: $*" >&2; exit 1; }
quiet() { # log name
	if grep -E 'CMake ([A-Za-z]+ )?(Error|Warning)' "$1" >&2; then
		fail "$2: CMake complained"
	fi
}

# CMake's command-line features and the version each came in: where a README
# command uses one, the text before its block names that version after the
# feature in one sentence, or names first a CMake at least that new.
features='cmake --install=3.15
--toolchain=3.21
ctest --test-dir=3.20'
awk -v features="$features" '
	function ge(a, b, x, y) {
		split(a, x, "."); split(b, y, ".")
		return x[1] + 0 > y[1] + 0 || (x[1] + 0 == y[1] + 0 && x[2] + 0 >= y[2] + 0)
	}
	BEGIN { n = split(features, row, "\n") }
	/^```sh$/ {
		on = 1; first = ""
		if (match(prose, /CMake [0-9]+\.[0-9]+/)) first = substr(prose, RSTART + 6, RLENGTH - 6)
		next
	}
	on && /^```/ { on = 0; prose = ""; next }
	!on { prose = prose " " $0; next }
	{
		for (i = 1; i <= n; i++) {
			f = row[i]; sub(/=.*/, "", f); v = row[i]; sub(/^[^=]*=/, "", v)
			re = v; gsub(/\./, "\\.", re)
			if (index($0, f) && !(first != "" && ge(first, v)) && prose !~ ("`" f "`[^.]*" re)) {
				print "readme: README.md:" NR ": `" f "` needs CMake " v ", and the text before does not say so"
				bad = 1
			}
		}
	}
	END { exit bad }' "$top/README.md" >&2 || fail "README.md names the wrong CMake versions"

# The checkout's files, as git sees them where there is git (those it tracks
# and those it would add), without .git or any build tree in it, whatever
# its name: those are directories with a CMakeCache.txt.
sources() {
	cd "$top"
	trees=$(find . -mindepth 1 -path ./.git -prune -o -type d -exec test -f {}/CMakeCache.txt \; -print -prune |
		sed 's,$,/,')
	if [ -e .git ] && command -v git >/dev/null; then
		git ls-files -co --exclude-standard | sed 's,^,./,'
	else
		# Without git, what .gitignore leaves out at the top.
		set -- -path ./.git
		[ ! -f .gitignore ] || while read -r p; do
			case $p in /*) p=${p#/}; set -- "$@" -o -path "./${p%/}" ;; esac
		done <.gitignore
		find . \( "$@" \) -prune -o ! -type d -print
	fi | if [ -n "$trees" ]; then grep -vF "$trees"; else cat; fi |
		while IFS= read -r f; do [ ! -e "$f" ] && [ ! -L "$f" ] || echo "$f"; done
}

rm -rf "$work"
mkdir -p "$work/src" "$work/switchsim"
chmod 700 "$work/switchsim"
src=$work/src
sources | tar -C "$top" --verbatim-files-from -T - -cf - | tar -C "$src" -xf -
[ -z "$(find "$src" -name CMakeCache.txt)" ] || fail "the copy holds a build tree"
export SWITCHSIM_DIR="$work/switchsim" MANPAGER=cat PAGER=cat

# The demo as a person who is not root runs it, in a checkout of their own:
# as root, the suite runs it as nobody, in a copy of nobody's.
as=''
if [ "$(id -u)" -eq 0 ]; then
	demo=$(mktemp -d /tmp/vok_eth-demo.XXXXXX)
	trap 'rm -rf "$demo"' EXIT
	mkdir "$demo/src" "$demo/switchsim"
	sources | tar -C "$top" --verbatim-files-from -T - -cf - | tar -C "$demo/src" -xf -
	chown -R 65534:65534 "$demo"
	as="setpriv --reuid 65534 --regid 65534 --clear-groups env -u CMAKE_C_COMPILER_LAUNCHER"
	as="$as -u CMAKE_CXX_COMPILER_LAUNCHER SWITCHSIM_DIR=$demo/switchsim"
fi

# The other toolchain, laid out as an OpenWrt SDK's for a big-endian MIPS
# target: Debian's cross tools by OpenWrt's names, its sysroot for the C library.
TOOLCHAIN_DIR=$work/sdk/staging_dir/toolchain-mips_24kc_gcc-$(${cross}gcc -dumpfullversion)_musl
mkdir -p "$TOOLCHAIN_DIR/bin"
for tool in /usr/bin/"$cross"*; do
	to=$TOOLCHAIN_DIR/bin/mips-openwrt-linux-musl-${tool#/usr/bin/"$cross"}
	printf '#!/bin/sh\nexec %s "$@"\n' "$tool" >"$to"
	chmod +x "$to"
done
ln -s /usr/mips-linux-gnu/lib /usr/mips-linux-gnu/include "$TOOLCHAIN_DIR/"
export TOOLCHAIN_DIR
# The compiles cached as scripts/test.sh caches them.
if command -v ccache >/dev/null; then
	export CCACHE_DIR="${XDG_CACHE_HOME:-$HOME/.cache}/vok_eth/ccache" CCACHE_BASEDIR="$src" \
		CCACHE_NOHASHDIR=1 CCACHE_MAXSIZE=2G \
		CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
fi

# One line per command, continuations joined.
awk '/^```sh$/ { on = 1; next } /^```/ { on = 0 }
     on { if (sub(/\\$/, "")) { line = line $0; next } print line $0; line = "" }' \
	"$top/README.md" >"$work/commands"
[ -s "$work/commands" ] || fail "no sh blocks in README.md"

# GoogleTest hidden from a configure, without a -D for CMake to call unused.
echo 'set(CMAKE_DISABLE_FIND_PACKAGE_GTest ON CACHE BOOL "")' >"$work/no-gtest.cmake"

files() { (cd "$src" && find . -path './build*' -prune -o -type f -print | LC_ALL=C sort); }

# The router's console: a report, an action, a usage error, then exit, typed
# once its shell is up, and kept clear of the kernel's late messages.
session='dmesg -n 1
vok_eth
vok_eth -w 3 -m 5; echo status=$?
vok_eth -x; echo status=$?
exit'
console() { # command
	vm=$work/vm
	: >"$vm.log"
	rm -f "$vm.status"
	{
		i=0
		until grep -q '^Leave with exit' "$vm.log"; do
			[ ! -f "$vm.status" ] && [ $i -lt 1800 ] || exit 0
			i=$((i + 1))
			sleep 1
		done
		printf '%s\n' "$session"
	} | {
		status=0
		(cd "$src" && timeout 1800 sh -c "$1") >"$vm.log" 2>&1 || status=$?
		echo $status >"$vm.status"
	}
	tr -d '\r' <"$vm.log" >"$vm.console"
	status=$(cat "$vm.status")
	[ "$status" -eq 0 ] || { cat "$vm.console" >&2; fail "$1: exit status $status"; }
	quiet "$vm.console" "$1"
	report=$(grep -E '^(LAN[0-3]|WAN):(up|down):[0-9]+:(full|half)$' "$vm.console" |
		cut -d: -f1 | paste -sd' ' -)
	statuses=$(grep -Ex 'status=[0-9]+' "$vm.console" | paste -sd' ' -)
	if [ "$report" != "LAN0 LAN1 LAN2 LAN3 WAN" ] || [ "$statuses" != "status=0 status=255" ] ||
		! grep -q '^Usage: vok_eth' "$vm.console"; then
		cat "$vm.console" >&2
		fail "$1: the console session went wrong"
	fi
}

configured=
n=0
while IFS= read -r line; do
	n=$((n + 1))
	log=$work/$n.log
	# What the command is run with, and the files it must leave outside the
	# build directories.
	run=$line vars='' want='' at=''
	name=$(printf %s "$line" | sed -e 's/[[:space:]]*#.*//' -e 's/[[:space:]]\{2,\}/ /g')
	case $line in
	scripts/test.sh* | ctest\ *) echo "readme: $name: skipped, the suite itself"; continue ;;
	scripts/fuzz.sh*) echo "readme: $name: skipped, the suite runs Fuzz.*"; continue ;;
	scripts/router-vm.sh*)
		console "scripts/router-vm.sh -B $work/vm-build${line#scripts/router-vm.sh}"
		echo "readme: $name: booted, report, action and usage error as they should be"
		continue
		;;
	cmake\ -S\ *)
		# From nothing, with a C++ compiler alone unless the tests are asked for.
		dir=${line#*-B }
		dir=${dir%% *}
		rm -rf "${src:?}/$dir"
		configured="$configured $dir"
		case $line in
		*-DBUILD_TESTING=ON*) ;;
		*)
			vars=CC=/nonexistent/cc
			run="cmake -C $work/no-gtest.cmake${line#cmake}"
			;;
		esac
		;;
	scripts/demo.sh* | build-demo/*) run="$as $line" at=${as:+$demo/src} ;;
	*cmake\ --install\ *) want="sbin/vok_eth share/man/man8/vok_eth.8" ;;
	'$CXX '*) vars="CXX=${cross}g++" want=vok_eth ;;
	'$STRIP '*) vars="STRIP=${cross}strip" ;;
	esac
	files >"$work/before"
	# shellcheck disable=SC2086
	(cd "${at:-$src}" && env $vars sh -c "$run") </dev/null >"$log" 2>&1 ||
		{ cat "$log" >&2; fail "$name: failed"; }
	quiet "$log" "$name"
	made=$(files | LC_ALL=C comm -13 "$work/before" - |
		sed -e 's,^\./,,' -e 's,.*/\(sbin/vok_eth\)$,\1,' \
			-e 's,.*/\(share/man/man8/vok_eth\.8\)$,\1,' | paste -sd' ' -)
	[ "$made" = "$want" ] || fail "$name: made '$made', not '$want'"
	case $line in
	cmake\ --build\ *)
		dir=${line#cmake --build }
		[ -f "$src/${dir%% *}/vok_eth" ] || fail "$name: no vok_eth"
		;;
	esac
	echo "readme: $name: ok"
done <"$work/commands"

# Each configured build has been built too.
for dir in $configured; do
	[ -f "$src/$dir/vok_eth" ] || fail "README configures $dir but builds no vok_eth there"
done
# The demo's files are its user's, and the Develop loop's build is not its.
if [ -n "$as" ]; then
	[ -z "$(find "$demo" ! -user 65534)" ] || fail "the demo left files that are not its user's"
	[ ! -e "$demo/src/build" ] || fail "the demo built in build/"
fi
