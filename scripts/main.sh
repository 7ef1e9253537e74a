#!/usr/bin/env bash
# The main job for now: build everything and run the protocol tests end to end, so a
# fresh machine shows the block protocol being served and checked.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset host >/dev/null
cmake --build --preset host
ctest --preset host
