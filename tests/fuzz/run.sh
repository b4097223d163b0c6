#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ at the top of the
# repository (or into $OVIX_FUZZ_BUILD_DIR) and runs each for SECONDS (default
# 60) on a scratch copy of its seed corpus, so no new inputs land in the
# repository. Prints the number of runs of each target; exits non-zero when
# any target crashed or broke an invariant, leaving the input under
# <build dir>/artifacts/<target>/.
#
#   tests/fuzz/run.sh [SECONDS]
set -euo pipefail

seconds=${1:-60}
if ! [[ $seconds =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 [SECONDS]" >&2
  exit 2
fi

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${OVIX_FUZZ_BUILD_DIR:-$root/build-fuzz}
targets=(fuzz_receiver fuzz_translation fuzz_ini fuzz_lines)

cmake -S "$here" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DOVIX_WERROR=ON \
  >/dev/null
cmake --build "$build" -j"$(nproc)"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

failed=()
for target in "${targets[@]}"; do
  corpus="$scratch/$target"
  artifacts="$build/artifacts/$target"
  log="$build/$target.log"
  started="$scratch/$target.started"
  mkdir -p "$corpus" "$artifacts"
  touch "$started"
  cp "$here/corpus/$target/"* "$corpus/"
  options=(-max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048
    -artifact_prefix="$artifacts/")
  [ -f "$here/$target.dict" ] && options+=(-dict="$here/$target.dict")

  status=0
  (cd "$scratch" && "$build/$target" "${options[@]}" "$corpus") >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  if [ "$status" -eq 0 ]; then
    printf '%-18s ok       %s runs in %ss\n' "$target" "${runs:-?}" "$seconds"
  else
    printf '%-18s FAILED   exit %s after %s runs; log %s\n' "$target" "$status" "${runs:-?}" "$log"
    grep -E 'invariant broken|ERROR:|runtime error|SUMMARY' "$log" | head -n 5 | sed 's/^/    /'
    find "$artifacts" -type f -newer "$started" | sed 's/^/    input: /'
    failed+=("$target")
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzzing failed: ${failed[*]}" >&2
  exit 1
fi
