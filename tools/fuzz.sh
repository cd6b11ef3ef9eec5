#!/usr/bin/env bash
# Builds every libFuzzer target under fuzz/ with clang and runs each over its
# seed corpus and then on new input for SECONDS (default 30). Fails when any
# target finds something. New inputs stay outside the tree, in
# build/fuzz/corpus/<name>; a finding's reproducer goes to build/fuzz/findings/<name>.
#   tools/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
build=build/fuzz
root=$PWD

mkdir -p "$build"
cmake -S fuzz -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ > "$build/configure.log" 2>&1 || {
  cat "$build/configure.log"
  exit 1
}
cmake --build "$build" -j "$(nproc)"

export ASAN_OPTIONS=detect_leaks=1
export LSAN_OPTIONS="suppressions=$root/tools/lsan.supp"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

failed=()
TIMEFORMAT="   %0R s, processor %0U s user + %0S s system"
for source in fuzz/*/*.cpp; do
  name=$(basename "$source" .cpp)
  [ "$(basename "$(dirname "$source")")" = "$name" ] || continue
  work="$build/corpus/$name"
  findings="$build/findings/$name"
  mkdir -p "$work" "$findings" "fuzz/$name/corpus"
  echo "== $name: corpus, then $seconds s of new input"
  # New inputs go to the first folder; the seed corpus is only read.
  if ! time "$build/$name" -max_total_time="$seconds" -timeout=25 -print_final_stats=1 \
      -artifact_prefix="$findings/" "$work" "fuzz/$name/corpus" > "$build/$name.log" 2>&1; then
    tail -n 60 "$build/$name.log"
    failed+=("$name")
  fi
  grep -E "^stat::number_of_executed_units|^stat::new_units_added" "$build/$name.log" | sed "s/^/   /" || true
done

if ((${#failed[@]})); then
  echo "fuzzing found something in: ${failed[*]} (reproducers in $build/findings)" >&2
  exit 1
fi
echo "fuzzing found nothing"
