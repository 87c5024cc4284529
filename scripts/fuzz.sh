#!/bin/sh
# SPDX-License-Identifier: BSD-2-Clause
# Run the randomized command-line test longer, with any seed:
#   scripts/fuzz.sh [RUNS [SEED [BUILD_DIR]]]    default: 100000 runs, seed from the clock
# A failure prints the seed that replays it: scripts/fuzz.sh 1 SEED
set -eu
cd "$(dirname "$0")/.."
runs=${1:-100000}
seed=${2:-$(date +%s)}
build=${3:-build}
scripts/deps.sh fuzz
cmake -S . -B "$build" -DBUILD_TESTING=ON >/dev/null
cmake --build "$build" -j2 --target vok_tests >/dev/null
echo "fuzz: $runs runs from seed $seed against $build" >&2
VOK_FUZZ_RUNS=$runs VOK_FUZZ_SEED=$seed exec "$build/tests/vok_tests" \
	--target="$build/target.conf" --gtest_filter='Fuzz.*'
