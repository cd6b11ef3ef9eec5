#!/usr/bin/env bash
# The display and whole-program benchmarks on a real X server (Xvfb), beside
# the peer terminals picocom and CuteCom. Installs the X server, the peers and
# what the first-paint probe needs from Debian's packages when missing, builds
# the benchmarks in build/bench (Release) and runs them. Arguments go to
# bench_serial_app (see its head comment), for example --compare OTHER/morvel-pbx.
set -euo pipefail
cd "$(dirname "$0")/../.."
bash tools/deps.sh xvfb xauth picocom cutecom xdotool pkg-config libxcb-damage0-dev
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVEL_BENCH=ON -DMORVEL_TESTS=OFF
cmake --build build/bench -j "$(nproc)" --target bench_display bench_serial_app
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" bash -c \
  'build/bench/bench/app/bench_display && build/bench/bench/app/bench_serial_app "$@"' bench "$@"
