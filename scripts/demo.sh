#!/bin/bash
# Demonstration of the extractor. For now it builds the native program.
set -euo pipefail

cd "$(dirname "$0")/.."
cmake -S . -B build/native -G Ninja </dev/null
cmake --build build/native -j2 --target tarnwick-sfx </dev/null
echo "Built build/native/tarnwick-sfx"
