#!/bin/bash
# Archive size and packing speed against zip, on a fixed corpus of real
# files: executables, shared libraries, headers and documentation installed
# by Debian packages that the project's own build needs (about 170 MB in
# about 4,000 files).
#
#   bench/compression_bench.sh [--corpus-only] [--keep] [--levels "6 9"]
#
# The corpus is the same bytes every time as long as the packages have the
# versions recorded below; the script says when one differs and prints the
# list's sha256, so two runs can be compared. Every timed command runs on
# one core (taskset -c 0). Installs zip and missing corpus packages first.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
work="${TARNWICK_BENCH_DIR:-$root/build/compression-bench}"
levels="6 9"
corpus_only=0
keep=0
while (($#)); do
  case "$1" in
    --corpus-only) corpus_only=1 ;;
    --keep) keep=1 ;;
    --levels) levels="$2"; shift ;;
    *) echo "usage: $0 [--corpus-only] [--keep] [--levels \"6 9\"]" >&2; exit 2 ;;
  esac
  shift
done

# Package and the version the recorded figures were measured with.
packages=(
  gcc-12=12.2.0-14+deb12u1
  cpp-12=12.2.0-14+deb12u1
  g++-12=12.2.0-14+deb12u1
  cmake=3.25.1-1
  binutils-x86-64-linux-gnu=2.40-2
  coreutils=9.1-1
  ninja-build=1.11.1-2~deb12u1
  make=4.3-4.1
  bash=5.2.15-2+b8
  tar=1.34+dfsg-1.2+deb12u1
  gzip=1.12-1
  libstdc++6=12.2.0-14+deb12u1
  libc6=2.36-9+deb12u14
  libstdc++-12-dev=12.2.0-14+deb12u1
  linux-libc-dev=6.1.187-1
  libc6-dev=2.36-9+deb12u14
  libgtest-dev=1.12.1-0.2
  libbenchmark-dev=1.7.1-1
  mingw-w64-common=10.0.0-3
  mingw-w64-x86-64-dev=10.0.0-3
)

# --- tools -----------------------------------------------------------------
names=(zip)
for entry in "${packages[@]}"; do names+=("${entry%%=*}"); done
source "$root/scripts/ensure_packages.sh"
ensure_packages "${names[@]}"

differs=0
for entry in "${packages[@]}"; do
  name="${entry%%=*}"; want="${entry#*=}"
  have="$(dpkg-query -W -f='${Version}' "$name")"
  if [[ "$have" != "$want" ]]; then
    echo "note: $name is $have here, the recorded figures are for $want: the corpus differs"
    differs=1
  fi
done

# --- corpus ----------------------------------------------------------------
# Regular files (no links) that the packages install under /usr/bin,
# /usr/include, /usr/share/doc, /usr/share/mingw-w64/include, and the
# versioned shared libraries (*.so.*) in /usr/lib/x86_64-linux-gnu.
corpus="$work/corpus"
rm -rf "$corpus"
mkdir -p "$corpus"
list="$work/corpus.list"
for entry in "${packages[@]}"; do dpkg -L "${entry%%=*}"; done | LC_ALL=C sort -u |
  while IFS= read -r f; do
    [[ -f "$f" && ! -L "$f" ]] || continue
    case "$f" in
      /usr/bin/*|/usr/include/*|/usr/share/doc/*|/usr/share/mingw-w64/include/*) ;;
      /usr/lib/x86_64-linux-gnu/*.so.*) ;;
      *) continue ;;
    esac
    printf '%s\n' "$f"
  done >"$list"
tar -cf - --no-recursion -T "$list" 2>/dev/null | tar -xf - -C "$corpus"
# Fixed times, so that only the bytes vary between runs.
find "$corpus" -exec touch -h -d '2024-01-01 00:00:00 UTC' {} +

files=$(wc -l <"$list")
bytes=$(cd "$corpus" && find . -type f -printf '%s\n' | awk '{s+=$1} END {print s}')
digest=$(cd "$corpus" && find . -type f -print0 | LC_ALL=C sort -z | xargs -0 sha256sum | sha256sum | cut -d' ' -f1)
echo "corpus: $files files, $bytes bytes, sha256 of the file list with contents: $digest"
echo "file list: $list"
((corpus_only)) && exit 0

# --- tarnwick --------------------------------------------------------------
build="$root/build/compression-bench-build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNWICK_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target tarnwick >/dev/null
tarnwick="$build/packer/tarnwick"

# Runs a command on one core; prints its wall time in seconds.
timed() {
  local start end
  start=$(date +%s.%N)
  taskset -c 0 "$@" >/dev/null
  end=$(date +%s.%N)
  echo "$start $end" | awk '{printf "%.2f", $2 - $1}'
}

mb() { echo "$1" | awk '{printf "%.2f", $1 / 1e6}'; }
rate() { echo "$1 $2" | awk '{printf "%.1f", $1 / 1e6 / $2}'; }

rm -f "$work/corpus.zip"
zip_time=$(cd "$work" && timed zip -9 -r -q corpus.zip corpus)
zip_size=$(stat -c %s "$work/corpus.zip")
printf '%-22s %12s bytes  %8s MB  %7s s  %6s MB/s\n' "zip -9 -r" "$zip_size" "$(mb "$zip_size")" "$zip_time" "$(rate "$bytes" "$zip_time")"

status=0
for level in $levels; do
  out="$work/corpus-$level.twk"
  rm -f "$out"
  t=$(cd "$work" && timed "$tarnwick" create -q -$level --stub none -o "$out" corpus)
  size=$(stat -c %s "$out")
  ratio=$(echo "$size $zip_size" | awk '{printf "%.4f", $1 / $2}')
  printf '%-22s %12s bytes  %8s MB  %7s s  %6s MB/s  %s of zip\n' "tarnwick create -$level" "$size" "$(mb "$size")" "$t" "$(rate "$bytes" "$t")" "$ratio"
  # Every archive must expand to the same bytes.
  check="$work/check-$level"
  rm -rf "$check"
  mkdir -p "$check"
  if "$tarnwick" extract -q "$out" -C "$check" && diff -r -q "$corpus" "$check/corpus" >/dev/null; then
    echo "  expands byte for byte"
  else
    echo "  DOES NOT EXPAND TO THE SAME BYTES"
    status=1
  fi
  rm -rf "$check"
  ((keep)) || rm -f "$out"
done
((keep)) || rm -f "$work/corpus.zip"
((differs)) && echo "note: package versions differ from the recorded ones (see above)"
exit $status
