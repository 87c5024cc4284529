#!/bin/sh
# Install what is missing, build for this machine and for the router
# (big-endian 32-bit MIPS), and run the whole suite against both builds, then
# the host suite once more under the sanitizers.
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh test
cmake -S . -B build-mips --toolchain cmake/mips-linux-gnu.cmake -DVOK_GUEST_TESTS=ON >/dev/null
cmake --build build-mips -j2
cmake -S . -B build -DBUILD_TESTING=ON -DVOK_ROUTER_BUILD=build-mips >/dev/null
cmake --build build -j2
ctest --test-dir build -j2 --output-on-failure

# The host suite again with AddressSanitizer and UndefinedBehaviorSanitizer.
cmake -S . -B build-asan -DVOK_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build-asan -j2
ctest --test-dir build-asan -j2 --output-on-failure

# The suite once more inside the emulated router, against the switch driver
# as a kernel module: the kernel.* backend.
scripts/router-vm.sh --test
