#!/usr/bin/env bash
# Installs what is missing, builds, and starts the terminal on the bundled PBX simulator.
# The data folder (settings, capture archive) is ./run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVEL_TESTS=OFF
cmake --build build/release -j "$(nproc)"
mkdir -p run
# A new data folder starts on the simulator's port (first in the list) at 9600 bit/s, font size 12.
[ -e run/Setings.ini ] ||
  printf '\x03\x00\x00\x00\x01\x00\x00\x00\x04\x00\x00\x00%018d' 0 | tr 0 '\000' > run/Setings.ini
link="$PWD/run/pbx-port"
build/release/tools/pbxsim/pbxsim --link "$link" --period 5000 > run/pbxsim.log 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null' EXIT
for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
cd run
../build/release/morvel-pbx --port "$link"
