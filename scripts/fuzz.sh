#!/bin/bash
# Builds the libFuzzer targets with clang (build/fuzz) and runs each of them
# for SECONDS seconds (default 60), AddressSanitizer and
# UndefinedBehaviorSanitizer included:
#
#   tarnwick-fuzz-expand   the extractor's whole run on an archive
#   tarnwick-fuzz-reader   the packer's reader (list and test)
#
#   scripts/fuzz.sh [SECONDS]
#
# Each target starts from the seed corpus (fuzz/corpus) and the inputs of
# earlier findings (fuzz/regressions), and keeps what it learns in
# build/fuzz/corpus-TARGET for the next run. A finding is written to
# build/fuzz/findings/ and makes the script fail; commit its input under
# fuzz/regressions/ (the test suite replays that folder) with the fix.
# The log of each run, with its coverage, goes to build/fuzz/logs/.
#
# Environment: FUZZ_TARGETS (default "expand reader") chooses the targets;
# FUZZ_MAX_LEN (default 8192) caps the input size; FUZZ_FORK=N runs N
# fuzzing processes per target.
set -euo pipefail

cd "$(dirname "$0")/.."
seconds="${1:-60}"
max_len="${FUZZ_MAX_LEN:-8192}"
fork="${FUZZ_FORK:-0}"

packages=(cmake ninja-build clang libclang-rt-14-dev libgtest-dev)
source scripts/ensure_packages.sh
ensure_packages "${packages[@]}"

read -r -a targets <<<"${FUZZ_TARGETS:-expand reader}"

cmake -S . -B build/fuzz -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DTARNWICK_FUZZ=ON -DTARNWICK_BENCH=OFF </dev/null
cmake --build build/fuzz -j2 $(printf -- '--target tarnwick-fuzz-%s ' "${targets[@]}") </dev/null

mkdir -p build/fuzz/findings build/fuzz/logs fuzz/regressions
status=0
for target in "${targets[@]}"; do
  corpus="build/fuzz/corpus-$target"
  log="build/fuzz/logs/$target-$(date +%Y%m%d-%H%M%S).log"
  mkdir -p "$corpus"
  options=(-max_total_time="$seconds" -max_len="$max_len" -timeout=10 -rss_limit_mb=3072
           -artifact_prefix="build/fuzz/findings/$target-" -print_final_stats=1 -print_coverage=1)
  if ((fork > 0)); then options+=(-fork="$fork" -ignore_crashes=0); fi
  # The reader tells of wrong passwords on standard error; findings still
  # reach the log.
  if [[ "$target" == reader ]]; then options+=(-close_fd_mask=3); fi
  echo "== tarnwick-fuzz-$target: $seconds s, inputs up to $max_len bytes (log: $log)"
  if ! "build/fuzz/fuzz/tarnwick-fuzz-$target" "${options[@]}" "$corpus" fuzz/corpus fuzz/regressions \
       </dev/null >"$log" 2>&1; then
    status=1
    echo "!! tarnwick-fuzz-$target found a problem:"
    grep -E -A30 '^==[0-9]+==ERROR|runtime error|deadly signal|timeout after' "$log" | head -60 || true
  fi
  grep -E '^#[0-9]+[[:space:]]+DONE|^stat::' "$log" || tail -5 "$log"
done
exit "$status"
