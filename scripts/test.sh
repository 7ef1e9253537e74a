#!/usr/bin/env bash
# Every test: the platform-free code natively under ASan/UBSan, a bounded fuzz run, and
# the Windows programs under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

for preset in host-asan fuzz win64; do
  echo "== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  echo "== $preset: test"
  ctest --preset "$preset"
done
