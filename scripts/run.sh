#!/usr/bin/env bash
# Installs what is missing, builds Pelmorax and starts the recorder.
# Arguments are passed on: an instance name or -RECORDSTART, -RECORDSTOP, ...
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev --target pelmorax
exec build/dev/bin/pelmorax "$@"
