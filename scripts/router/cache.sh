# SPDX-License-Identifier: BSD-2-Clause
# Sourced by the scripts that build the emulated router's slow, stable parts
# (the kernel, busybox, musl, uClibc-ng): they are cached in
# ${XDG_CACHE_HOME:-$HOME/.cache}/vok_eth/, one directory per build, named by
# a hash of the package version, the compiler version and the config.
# The caller sets `me` to its name for messages.
cross=mips-linux-gnu-
jobs=$(nproc)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/vok_eth
mkdir -p "$cache"
chmod 700 "$cache"
# One builder at a time per cache.
exec 9>"$cache/lock"
flock 9

log() { echo "$me: $*" >&2; }
hash() { sha256sum | cut -c1-16; }
ccver=$(${cross}gcc --version | head -n1)

# Sets dir to the build of a kind under its key, running BUILD_FUNCTION on
# an empty directory when it is missing. The build is moved into place only
# once done: a killed one leaves no directory under its key. Only the newest
# build of a kind is kept: each key replaces the last.
cached() { # kind key what build_function
	dir=$cache/$1-$2
	[ ! -f "$dir/done" ] || return 0
	log "building $3 in $dir"
	rm -rf "$cache/$1"-*
	mkdir "$dir.tmp"
	"$4" "$dir.tmp"
	touch "$dir.tmp/done"
	mv "$dir.tmp" "$dir"
}

# A config fragment's settings replace those make's defconfig gave.
merge_fragment() { # .config <fragment
	while read -r line; do
		case $line in
		[A-Z]*=*) sym=${line%%=*} ;;
		"# "[A-Z]*" is not set") sym=${line#\# }; sym=${sym%% *} ;;
		*) continue ;;
		esac
		sed -i -e "/^$sym=/d" -e "/^# $sym is not set/d" "$1"
		echo "$line" >>"$1"
	done
}
# A setting that did not take (a missing dependency) is a broken fragment.
fragment_took() { # fragment .config
	while read -r want; do
		case $want in
		[A-Z]*=*) grep -qxF "$want" "$2" ;;
		"# "[A-Z]*" is not set") sym=${want#\# }; ! grep -q "^${sym%% *}=" "$2" ;;
		esac || { log "$1: $want did not take"; exit 1; }
	done <"$1"
}

# Debian's source packages, through a deb-src list of our own: the machine's
# apt setup is left as it is.
apt_dir=$cache/apt
apt_opts="-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts=$apt_dir/sources.list.d
	-o Dir::State::Lists=$apt_dir/lists -o Dir::Cache=$apt_dir/cache
	-o Dir::State::status=/dev/null -o APT::Sandbox::User=root -q"
src_version() { # package
	apt-cache $apt_opts showsrc "$1" 2>/dev/null | sed -n 's/^Version: //p' | sort -V | tail -n1
}
# The newest version of a source package, fetching the index when it is
# missing or does not know the package.
source_version() { # package
	if [ -z "$(src_version "$1")" ]; then
		log "fetching the source index through $apt_dir/sources.list.d"
		mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" \
			"$apt_dir/sources.list.d"
		# The machine's own Debian mirror, for the release it runs.
		codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
		stanza='Types: deb-src\nURIs: %s\nSuites: %s\nComponents: main\n'
		{
			cat /etc/apt/sources.list.d/*.sources 2>/dev/null |
				awk -v rel="$codename" -v stanza="$stanza" '
				function flush() {
					if (deb && uris != "" && suite)
						printf stanza "%s\n\n", uris, rel, key
					deb = 0; uris = ""; suite = 0; key = ""
				}
				/^[ \t]*$/ { flush(); next }
				/^Types:/ { for (i = 2; i <= NF; i++) if ($i == "deb") deb = 1 }
				/^URIs:/ { uris = $2 }
				/^Suites:/ { for (i = 2; i <= NF; i++) if ($i == rel) suite = 1 }
				/^Signed-By:/ { key = $0 }
				END { flush() }'
			cat /etc/apt/sources.list 2>/dev/null |
				awk -v rel="$codename" -v stanza="$stanza" '
				$1 == "deb" { for (i = 3; i <= NF; i++) if ($i == rel) {
					printf stanza "\n", $(i - 1), rel; break } }'
		} >"$apt_dir/sources.list.d/debian.sources"
		[ -s "$apt_dir/sources.list.d/debian.sources" ] ||
			{ log "no Debian $codename source in /etc/apt"; exit 1; }
		apt-get $apt_opts update >/dev/null
	fi
	v=$(src_version "$1")
	[ -n "$v" ] || { log "no $1 source package in the index"; exit 1; }
	echo "$v"
}
# Unpacks a source package into dir; prints the source tree's path.
fetch_source() { # package version dir
	(cd "$3" && apt-get $apt_opts source "$1=$2" >/dev/null)
	rm -f "$3"/*.tar.* "$3"/*.dsc
	find "$3" -mindepth 1 -maxdepth 1 -type d -name "$1-*"
}
