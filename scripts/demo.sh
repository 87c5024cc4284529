#!/bin/sh
# SPDX-License-Identifier: BSD-2-Clause
# Build the tool and the simulated switch, then run vok_eth against it.
# Arguments go to vok_eth: scripts/demo.sh -w 5 -m 1
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh demo
cmake -S . -B build -DBUILD_TESTING=OFF -DVOK_SWITCHSIM=ON >/dev/null
cmake --build build -j2 --target vok_eth switchsim switchsim_preload ethreg >/dev/null
exec build/switchsim/switchsim run build/vok_eth "$@"
