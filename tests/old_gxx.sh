#!/bin/sh
# SPDX-License-Identifier: BSD-2-Clause
# A compiler launcher that makes the compiler after it act as a vendor SDK's
# g++ 4.x: C++98 by default, and no -std= newer than that.
#   -DCMAKE_CXX_COMPILER_LAUNCHER=tests/old_gxx.sh
cxx=$1
shift
for arg; do
	case $arg in
	-std=c++98 | -std=c++03 | -std=gnu++98 | -std=gnu++03) ;;
	-std=*)
		echo "cc1plus: error: unrecognized command line option '$arg'" >&2
		exit 1
		;;
	esac
done
exec "$cxx" -std=gnu++98 "$@"
