#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz": AddressSanitizer and UBSan) and runs
# each for a bounded time, starting from its seeds in tests/fuzz/corpus/<target>/.
# PMX_FUZZ_SECONDS: seconds per target (default 20); PMX_FUZZ_TOTAL_SECONDS: the
# most the runs may take together (default 150), shared evenly between targets.
# A failing target stops the run; its input is kept in build/fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

targets=(build/fuzz/fuzz/fuzz_*)
per=${PMX_FUZZ_SECONDS:-20}
total=${PMX_FUZZ_TOTAL_SECONDS:-150}
if (( per * ${#targets[@]} > total )); then per=$(( total / ${#targets[@]} )); fi
if (( per < 1 )); then per=1; fi

# Leaks inside the libraries we call, not ours, are listed there.
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p build/fuzz/artifacts
for target in "${targets[@]}"; do
  name=$(basename "$target")
  mkdir -p "$work/$name"
  if [ -d "tests/fuzz/corpus/$name" ]; then cp "tests/fuzz/corpus/$name"/* "$work/$name"/; fi
  if ! "$target" -max_total_time="$per" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="build/fuzz/artifacts/$name-" "$work/$name" >"$work/$name.log" 2>&1; then
    tail -n 60 "$work/$name.log"
    echo "fuzz: $name failed; input kept in build/fuzz/artifacts/" >&2
    exit 1
  fi
  echo "fuzz: $name ${per}s, $(grep -o 'number_of_executed_units: [0-9]*' "$work/$name.log" | grep -o '[0-9]*$') inputs, no failure"
done
