#!/bin/sh
# SPDX-License-Identifier: BSD-2-Clause
# Build the tool and the simulated switch in build-demo, apart from the
# Develop loop's build, then run vok_eth against it.
# Arguments go to vok_eth: scripts/demo.sh -w 5 -m 1
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh demo
cmake -S . -B build-demo -DBUILD_TESTING=OFF -DVOK_SWITCHSIM=ON >/dev/null
cmake --build build-demo -j2 --target vok_eth switchsim switchsim_preload ethreg >/dev/null
exec build-demo/switchsim/switchsim run build-demo/vok_eth "$@"
