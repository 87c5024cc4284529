#!/bin/sh
# Install what is missing, build for this machine and for the router
# (big-endian 32-bit MIPS), and run the whole suite against both builds, then
# the host suite once more under the sanitizers.
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh test

# CTest names the skipped tests; GoogleTest's log says why.
skipped() {
	awk '/^[0-9]+\/[0-9]+ Test: / { name = $3 }
	     / Skipped$/ && name { getline why; print "skipped: " name ": " why }' \
		"$1/Testing/Temporary/LastTest.log"
}

cmake -S . -B build-mips --toolchain cmake/mips-linux-gnu.cmake >/dev/null
cmake --build build-mips -j2
cmake -S . -B build -DBUILD_TESTING=ON -DVOK_ROUTER_BUILD=build-mips >/dev/null
cmake --build build -j2
ctest --test-dir build -j2 --output-on-failure
skipped build

# The host suite again with AddressSanitizer and UndefinedBehaviorSanitizer.
cmake -S . -B build-asan -DVOK_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build-asan -j2
ctest --test-dir build-asan -j2 --output-on-failure
skipped build-asan
