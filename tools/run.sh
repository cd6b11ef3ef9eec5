#!/usr/bin/env bash
# Installs what is missing, builds, and starts the terminal on the bundled PBX simulator.
# The data folder (settings, capture archive) is ./run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVEL_TESTS=OFF
cmake --build build/release -j "$(nproc)"
mkdir -p run
link="$PWD/run/pbx-port"
build/release/tools/pbxsim/pbxsim --link "$link" --period 5000 > run/pbxsim.log 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null' EXIT
for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
# --port lists the simulator's line first and opens it, settings file or not.
build/release/morvel-pbx --data-folder run --port "$link"
