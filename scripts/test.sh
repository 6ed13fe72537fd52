#!/usr/bin/env bash
# Installs what is missing, builds Pelmorax and runs its tests.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh --test
cmake --preset dev >/dev/null
cmake --build --preset dev
ctest --preset dev
