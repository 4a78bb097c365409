#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a set time on its seed corpus.
# Usage: fuzz/run.sh [SECONDS_PER_TARGET] [TARGET...]     (default 30 seconds, every target)
# Environment: QOVIRA_FUZZ_BUILD  build directory (default build-fuzz in the source tree)
#              QOVIRA_FUZZ_CXX    clang++ to use (default clang++-19, else clang++)
# Corpora grow under $QOVIRA_FUZZ_BUILD/corpus/<target> and are reused by later runs; crashing
# inputs land in $QOVIRA_FUZZ_BUILD/artifacts. Exits 1 when any target finds a fault.
set -uo pipefail

source_dir=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-30}
shift || true
targets=("$@")
if ((${#targets[@]} == 0)); then
  targets=(decode_text read_mb import_rime import_bingling diagnose repair_text batch convert_table)
fi
build=${QOVIRA_FUZZ_BUILD:-$source_dir/build-fuzz}
cxx=${QOVIRA_FUZZ_CXX:-$(command -v clang++-19 || command -v clang++)}
if [[ -z $cxx ]]; then
  echo "fuzz/run.sh: clang++ not found (Debian: apt-get install clang-19 libclang-rt-19-dev)" >&2
  exit 1
fi

cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER="$cxx" -DQOVIRA_FUZZ=ON -DQOVIRA_TESTS=OFF \
  -DQOVIRA_WERROR=OFF >/dev/null ||
  exit 1
ninja -C "$build" -j2 make_fuzz_seeds "${targets[@]/%/_fuzz}" >/dev/null || exit 1

seeds=$build/seeds
rm -rf "$seeds"
"$build/fuzz/make_fuzz_seeds" "$seeds" || exit 1
# The repository's own sample tables are seeds of every target that reads text.
for target in decode_text import_rime import_bingling diagnose repair_text batch; do
  cp "$source_dir"/samples/* "$seeds/$target/"
  for file in "$source_dir"/app/testdata/diagnosis/*; do
    [[ $file == *.report.txt ]] || cp "$file" "$seeds/$target/"
  done
done

# Inputs large enough for a .mb file where the target takes whole files.
max_len() {
  case $1 in
    diagnose | batch | convert_table) echo 131072 ;;
    *) echo 16384 ;;
  esac
}

mkdir -p "$build/artifacts"
status=0
summary=()
for target in "${targets[@]}"; do
  corpus=$build/corpus/$target
  mkdir -p "$corpus"
  log=$build/artifacts/$target.log
  echo "== $target: ${seconds}s"
  "$build/fuzz/${target}_fuzz" "$corpus" "$seeds/$target" \
    -max_total_time="$seconds" -max_len="$(max_len "$target")" -timeout=20 -rss_limit_mb=2048 \
    -dict="$source_dir/fuzz/tables.dict" -artifact_prefix="$build/artifacts/$target-" \
    -print_final_stats=1 >"$log" 2>&1
  code=$?
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  inputs=$(find "$corpus" -type f | wc -l)
  if ((code != 0)); then
    status=1
    verdict="FAULT (see $log)"
    grep -E 'ERROR|PROPERTY BROKEN|SUMMARY|Test unit written' "$log" | head -20
  else
    verdict="ok"
  fi
  summary+=("$(printf '%-16s %12s executions %7s corpus inputs  %s' "$target" "${executions:-?}" \
    "$inputs" "$verdict")")
done
# The batch target's scratch folders are named by process; another fuzzing run may still use its own.
for folder in /dev/shm/qovira-batch-fuzz-*; do
  [[ -d $folder ]] && ! kill -0 "${folder##*-}" 2>/dev/null && rm -rf "$folder"
done

printf '%s\n' "${summary[@]}"
passed=0
failed=0
for line in "${summary[@]}"; do
  if [[ $line == *" ok" ]]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
  fi
done
echo "fuzz: $passed passed, $failed failed"
exit $status
