#!/bin/bash
# Builds the extractor for Windows (i686 and x86_64, cross-compiled with
# MinGW-w64) and natively, then runs every test: unit tests, and end-to-end
# runs of the native program and, under wine64, of the x86_64 Windows one.
# Installs missing build tools first. Never reads standard input.
set -euo pipefail

cd "$(dirname "$0")/.."
root="$(pwd)"

packages=(cmake ninja-build g++ libgtest-dev libbenchmark-dev
          g++-mingw-w64-i686 g++-mingw-w64-x86-64
          binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 wine64)

missing=()
for package in "${packages[@]}"; do
  status="$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)"
  if [[ "$status" != "install ok installed" ]]; then
    missing+=("$package")
  fi
done
if ((${#missing[@]} > 0)); then
  echo "Installing: ${missing[*]}"
  sudo=()
  if [[ $(id -u) -ne 0 ]]; then sudo=(sudo -n); fi
  export DEBIAN_FRONTEND=noninteractive
  ${sudo[@]+"${sudo[@]}"} apt-get update </dev/null
  ${sudo[@]+"${sudo[@]}"} apt-get install -y "${missing[@]}" </dev/null
fi

jobs=2

for target in win64:mingw-x86_64 win32:mingw-i686; do
  dir="build/${target%%:*}"
  cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/${target#*:}.cmake" </dev/null
  cmake --build "$dir" -j"$jobs" </dev/null
done

cmake -S . -B build/native -G Ninja \
  -DTARNWICK_WIN64_SFX="$root/build/win64/tarnwick-sfx.exe" \
  -DTARNWICK_WIN32_SFX="$root/build/win32/tarnwick-sfx.exe" </dev/null
cmake --build build/native -j"$jobs" </dev/null

ctest --test-dir build/native --output-on-failure -j"$jobs" </dev/null
