#!/usr/bin/env bash
# Builds every fuzz target with clang's libFuzzer and AddressSanitizer, writes
# the generated seed corpora, then runs each target for FUZZ_SECONDS (default
# 60) with its own options (see quorel_fuzz). New inputs go to a scratch
# corpus in the build folder, never into the source tree; a crash or a slow
# input stops the run and leaves its input beside the target.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-fuzz}
seconds=${FUZZ_SECONDS:-60}

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUOREL_FUZZ=ON -DQUOREL_SANITIZE=address -DQUOREL_BENCH=OFF >/dev/null
# One line per target: name|libFuzzer options|corpus folders.
list="$build/fuzz-targets.txt"
mapfile -t targets < <(cut -d'|' -f1 "$list")
cmake --build "$build" --target "${targets[@]}" png_fuzz_seeds protocol_fuzz_seeds user_model_fuzz_seeds module_fuzz_seeds playback_fuzz_seeds
ctest --test-dir "$build" -R '_fuzz_seeds$' --output-on-failure

while IFS='|' read -r target options corpora; do
  [[ -n "$target" ]] || continue
  work="$build/fuzz-work/$target"
  mkdir -p "$work/corpus"
  echo "fuzz: $target for ${seconds}s ${options}"
  # shellcheck disable=SC2086  # options and corpus folders are space-separated lists
  "$build/bin/$target" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$work/" \
    $options "$work/corpus" $corpora
done <"$list"
