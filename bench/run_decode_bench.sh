#!/bin/sh
# Builds the decoding benchmark in Release mode into build/bench and runs
# it. Arguments are passed on to Google Benchmark, e.g.
#   bench/run_decode_bench.sh --benchmark_filter=Text --benchmark_repetitions=5
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
cmake -S "$root" -B "$root/build/bench" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNWICK_BENCH=ON
cmake --build "$root/build/bench" -j2 --target tarnwick_bench_decode
exec "$root/build/bench/bench/tarnwick_bench_decode" "$@"
