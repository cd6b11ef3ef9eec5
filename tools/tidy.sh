#!/usr/bin/env bash
# Runs clang-tidy (.clang-tidy) over the program's own sources, using the
# compile commands of the build folder given (default build/asan).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/asan}
root=$PWD
# The compile commands are GCC's; clang need not know every warning option.
run-clang-tidy -quiet -p "$build" -j "$(nproc)" -extra-arg=-Wno-unknown-warning-option \
  -header-filter="^$root/(app|archive|core|net|serial|support|tools)/" \
  "^$root/(main|(app|archive|core|net|serial|support|tools)/.*)\.cpp$" > "$build/tidy.log" 2>&1 || {
  sed 's/\x1b\[[0-9;]*m//g' "$build/tidy.log" | grep -E "(warning|error):" | sort -u
  exit 1
}
