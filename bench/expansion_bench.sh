#!/bin/bash
# Expansion speed against the peers, on the fixed corpus of
# bench/compression_bench.sh (real executables, shared libraries, headers and
# documentation, about 175 MB in about 4,000 files).
#
#   bench/expansion_bench.sh [--rounds 5] [--levels "1 6 9"] [--quick] [--keep]
#
# Packs the corpus with `tarnwick create --stub none` at each level, with
# `zip -9 -r` and with `tar -czf`, then times in one run, the commands taking
# turns round after round:
#   - expansion to disk: `tarnwick-sfx /e` of each archive, `unzip -o -q`,
#     `tar -xzf`, each into a fresh folder on the same file system (the
#     previous output removed and synced outside the timing);
#   - decoding one file, all corpus files concatenated, to nothing:
#     `tarnwick test` of a one-entry archive at each level beside
#     `gzip -dc file.gz >/dev/null` (gzip -9).
# Prints the medians (wall seconds; MB/s for the decoding, MB = 10^6 bytes)
# and the ratios: our time / unzip's and / tar's, our throughput / gzip's.
# --quick uses only the headers of the corpus (about 25 MB), for a check.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
work="${TARNWICK_BENCH_DIR:-$root/build/expansion-bench}"
levels="1 6 9"
rounds=5
quick=0
keep=0
usage() { echo "usage: $0 [--rounds N] [--levels \"1 6 9\"] [--quick] [--keep]" >&2; exit 2; }
while (($#)); do
  case "$1" in
    --rounds) (($# >= 2)) || usage; rounds="$2"; shift ;;
    --levels) (($# >= 2)) || usage; levels="$2"; shift ;;
    --quick) quick=1 ;;
    --keep) keep=1 ;;
    *) usage ;;
  esac
  shift
done
[[ "$rounds" =~ ^[1-9][0-9]*$ ]] || usage
for level in $levels; do [[ "$level" =~ ^[1-9]$ ]] || usage; done

# --- peers -------------------------------------------------------------------
source "$root/scripts/ensure_packages.sh"
ensure_packages zip unzip gzip tar

# --- tarnwick ----------------------------------------------------------------
build="$root/build/bench-release"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNWICK_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target tarnwick tarnwick-sfx >/dev/null
tarnwick="$build/packer/tarnwick"
sfx="$build/tarnwick-sfx"

# --- corpus --------------------------------------------------------------------
# The corpus script installs the packages, reports version differences and
# prints the corpus digest; it leaves the files in $work/corpus.
mkdir -p "$work"
TARNWICK_BENCH_DIR="$work" "$root/bench/compression_bench.sh" --corpus-only
if ((quick)); then
  # The headers alone, hard-linked, under the same top name.
  rm -rf "$work/quick"
  mkdir -p "$work/quick/corpus/usr"
  cp -al "$work/corpus/usr/include" "$work/quick/corpus/usr/include"
  base="$work/quick"
  echo "quick: the headers only"
else
  base="$work"
fi
files=$(cd "$base/corpus" && find . -type f | wc -l)
bytes=$(cd "$base/corpus" && find . -type f -printf '%s\n' | awk '{s+=$1} END {print s+0}')
echo "measured set: $files files, $bytes bytes"

# The single file: every corpus file in name order, one after another.
single="$base/single.bin"
(cd "$base/corpus" && find . -type f -print0 | LC_ALL=C sort -z | xargs -0 cat) >"$single"
single_bytes=$(stat -c %s "$single")

# --- archives ------------------------------------------------------------------
arch="$base/archives"
rm -rf "$arch"
mkdir -p "$arch"
echo "packing..."
for level in $levels; do
  (cd "$base" && "$tarnwick" create --stub none -q -"$level" -o "$arch/corpus-$level.twk" corpus)
  (cd "$base" && "$tarnwick" create --stub none -q -"$level" -o "$arch/single-$level.twk" single.bin)
done
(cd "$base" && zip -9 -r -q "$arch/corpus.zip" corpus)
(cd "$base" && tar -czf "$arch/corpus.tar.gz" corpus)
gzip -9 -c "$single" >"$arch/single.bin.gz"
for f in "$arch"/*; do printf '  %-18s %12s bytes\n' "$(basename "$f")" "$(stat -c %s "$f")"; done

# --- timing --------------------------------------------------------------------
out="$base/out"
declare -A times

# Wall seconds of a command with stdin from /dev/null and output discarded.
timed() {
  local start end
  start=$(date +%s.%N)
  "$@" </dev/null >/dev/null 2>&1 || { echo "FAILED: $*" >&2; exit 1; }
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN {printf "%.4f", b - a}'
}

# A fresh, empty output folder; the previous output is gone and on disk.
fresh() {
  rm -rf "$out"
  sync
  mkdir -p "$out"
}

# The expanded tree must be the corpus, byte for byte (first round only).
check() {
  if ! diff -r -q "$base/corpus" "$out/corpus" >/dev/null; then
    echo "$1 DOES NOT EXPAND TO THE SAME BYTES" >&2
    exit 1
  fi
}

gz_test() { gzip -dc "$arch/single.bin.gz" >/dev/null; }

for ((round = 1; round <= rounds; ++round)); do
  echo "round $round of $rounds"
  for level in $levels; do
    fresh
    ln "$arch/corpus-$level.twk" "$out/corpus.twk"
    times["sfx$level"]+=" $(timed "$sfx" /e "$out/corpus.twk")"
    ((round == 1)) && check "tarnwick -$level"
  done
  fresh
  times[unzip]+=" $(cd "$out" && timed unzip -o -q "$arch/corpus.zip")"
  ((round == 1)) && check "unzip"
  fresh
  times[tar]+=" $(cd "$out" && timed tar -xzf "$arch/corpus.tar.gz")"
  ((round == 1)) && check "tar -xzf"
  rm -rf "$out"
  for level in $levels; do
    times["test$level"]+=" $(timed "$tarnwick" test -q "$arch/single-$level.twk")"
  done
  times[gzip]+=" $(timed gz_test)"
done

median() { tr ' ' '\n' | grep . | sort -g | awk '{v[NR] = $1} END {m = int((NR + 1) / 2); printf "%.3f", NR % 2 ? v[m] : (v[m] + v[m + 1]) / 2}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
rate() { awk -v n="$1" -v t="$2" 'BEGIN {printf "%.1f", n / 1e6 / t}'; }

unzip_m=$(median <<<"${times[unzip]}")
tar_m=$(median <<<"${times[tar]}")
gzip_m=$(median <<<"${times[gzip]}")
gzip_rate=$(rate "$single_bytes" "$gzip_m")

echo
echo "Medians of $rounds round(s); $files files, $bytes bytes; lower ratio is better."
echo "Expansion to disk:"
printf '  %-26s %8s s\n' "unzip -o -q (zip -9)" "$unzip_m" "tar -xzf" "$tar_m"
for level in $levels; do
  m=$(median <<<"${times[sfx$level]}")
  printf '  %-26s %8s s   %s x unzip   %s x tar\n' "tarnwick-sfx /e (-$level)" "$m" "$(ratio "$m" "$unzip_m")" "$(ratio "$m" "$tar_m")"
done
echo "Decoding one file of $single_bytes bytes to nothing (higher ratio is better):"
printf '  %-26s %8s s  %7s MB/s\n' "gzip -dc (gzip -9)" "$gzip_m" "$gzip_rate"
for level in $levels; do
  m=$(median <<<"${times[test$level]}")
  r=$(rate "$single_bytes" "$m")
  printf '  %-26s %8s s  %7s MB/s   %s x gzip\n' "tarnwick test (-$level)" "$m" "$r" "$(ratio "$r" "$gzip_rate")"
done

((keep)) || rm -rf "$arch" "$single" "$out" "$work/quick"
