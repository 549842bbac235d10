#!/bin/bash
# Demonstration for a new user: builds the native extractor and the tarnwick
# command, packs the sample folder samples/demo/files with the sample message
# into a self-extracting program, runs it in a fresh scratch folder and lists
# what it expanded, with sizes. Installs missing build tools first. Never
# reads standard input.
set -euo pipefail

cd "$(dirname "$0")/.."
root="$(pwd)"

# The build always configures the tests, so GoogleTest is needed too.
packages=(cmake ninja-build g++ libgtest-dev)
source scripts/ensure_packages.sh
ensure_packages "${packages[@]}"

# A build of its own, kept between runs; only the two programs are built.
build="$root/build/demo-build"
cmake -S . -B "$build" -G Ninja -DTARNWICK_BENCH=OFF </dev/null >/dev/null
cmake --build "$build" -j2 --target tarnwick-sfx tarnwick </dev/null

# The scratch folder starts empty, so the extractor finds no file to ask
# about. Git keeps no empty folders: the sample's empty folder is made in
# the copy that is packed.
scratch="$root/build/demo"
rm -rf "$scratch"
mkdir -p "$scratch/run"
cp -R samples/demo/files "$scratch/demo"
mkdir -p "$scratch/demo/logs"

echo
echo "== Packing $scratch/demo into a self-extracting program"
"$build/packer/tarnwick" create --stub native --codepage utf8 -o "$scratch/run/setup" \
  --message-file samples/demo/message.txt "$scratch/demo" </dev/null

echo
echo "== Running $scratch/run/setup"
status=0
"$scratch/run/setup" </dev/null || status=$?
echo "== The extractor ended with exit code $status"

echo
echo "== What is in $scratch/run now (bytes, name)"
(
  cd "$scratch/run"
  find . -mindepth 1 | LC_ALL=C sort | while IFS= read -r path; do
    if [[ -d "$path" ]]; then
      printf '%10s  %s/\n' "" "${path#./}"
    else
      printf '%10s  %s\n' "$(stat -c %s "$path")" "${path#./}"
    fi
  done
)
exit "$status"
