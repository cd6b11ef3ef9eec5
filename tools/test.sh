#!/usr/bin/env bash
# Installs what is missing and checks everything:
#  - the house style (clang-format) and the desktop entry and AppStream data;
#  - a build with AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer,
#    warnings as errors and the benchmarks compiled, and every test run on it;
#  - clang-tidy over the program's sources;
#  - the test programs that start a thread or a socket again under ThreadSanitizer;
#  - every fuzz target over its corpus and 30 seconds of new input (tools/fuzz.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

bash tools/check-format.sh
desktop-file-validate packaging/*.desktop
appstreamcli validate --no-net packaging/*.metainfo.xml

cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMORVEL_SANITIZE=address,undefined \
  -DMORVEL_WERROR=ON -DMORVEL_BENCH=ON
cmake --build build/asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS="suppressions=$PWD/tools/lsan.supp" UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/asan --output-on-failure -j "$jobs" --timeout 600

bash tools/tidy.sh build/asan

threaded=(test_serial test_net test_core test_app test_app_scaled test_program test_archive)
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMORVEL_SANITIZE=thread -DMORVEL_WERROR=ON
cmake --build build/tsan -j "$jobs" --target "${threaded[@]}"
labels=$(IFS='|'; echo "^(${threaded[*]})$")
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tools/tsan.supp" \
  ctest --test-dir build/tsan --output-on-failure -j "$jobs" --timeout 600 -L "$labels"

bash tools/fuzz.sh 30
