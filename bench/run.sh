#!/usr/bin/env bash
# Times QoviraTableTool beside other programs of the field on the same rows: `LC_ALL=C sort`, Rime's
# dictionary compiler (rime_deployer --build, Debian librime-bin) and libime's table compiler
# (libime_tabledict text -> binary -> text, Debian libime-bin). Prints median wall time and peak
# memory of several runs and the ratios ours/peer, and our conversion of each .mb to text beside
# our export of the same rows from text. Not a test: it needs root for apt-get and a few minutes.
#
# Usage: bench/run.sh [--runs N] [--sizes "wubi86 1m 5m"] [--work DIR] [--no-peers]
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
runs=5
sizes="wubi86 1m 5m"
work=/tmp/qovira-bench
peers=1
while (($#)); do
  case $1 in
    --runs) runs=$2; shift 2 ;;
    --sizes) sizes=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --no-peers) peers=0; shift ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
done
build=${BUILD_DIR:-$repo/build-bench}

# --- tools ----------------------------------------------------------------------------------------
export DEBIAN_FRONTEND=noninteractive
need=()
for package in time cmake ninja-build g++; do
  dpkg -s "$package" >/dev/null 2>&1 || need+=("$package")
done
if ((peers)); then
  for package in librime-bin libime-bin; do
    dpkg -s "$package" >/dev/null 2>&1 || need+=("$package")
  done
fi
if ((${#need[@]})); then
  apt-get update -q >/dev/null
  apt-get install -y -q "${need[@]}" >/dev/null
fi

cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQOVIRA_TESTS=OFF >/dev/null
cmake --build "$build" --target QoviraTableTool -j2 >/dev/null
tool=$build/src/QoviraTableTool

# --- inputs ---------------------------------------------------------------------------------------
mkdir -p "$work"
cd "$work"
if [[ ! -f wubi86.dict.yaml ]]; then
  rm -rf pkg rime-data-wubi_*.deb
  apt-get download rime-data-wubi >/dev/null
  dpkg-deb -x rime-data-wubi_*.deb pkg
  cp pkg/usr/share/rime-data/wubi86.dict.yaml .
fi

rows_of() {
  case $1 in
    wubi86) echo 136753 ;;
    1m) echo 1000000 ;;
    5m) echo 5000000 ;;
  esac
}

# The same rows as a 冰凌 table and as libime's text table.
to_bingling() {
  awk -F'\t' 'BEGIN { print "[CODETABLEHEADER]"; print "Name=bench"; print "[CODETABLE]" }
    body && !/^#/ && NF >= 2 { print $2 "\t" $1 "\t" $3 }
    $0 == "..." { body = 1 }' "$1"
}
to_libime() {
  awk -F'\t' 'BEGIN { print "KeyCode=abcdefghijklmnopqrstuvwxyz"; print "Length=8"; print "[Data]" }
    body && !/^#/ && NF >= 2 { print $2 " " $1 }
    $0 == "..." { body = 1 }' "$1"
}

for size in $sizes; do
  mkdir -p "$size"
  rime=$size/$size.dict.yaml
  if [[ ! -f $rime ]]; then
    if [[ $size == wubi86 ]]; then
      cp wubi86.dict.yaml "$rime"
    else
      awk -v rows="$(rows_of "$size")" -f "$repo/bench/scale.awk" wubi86.dict.yaml >"$rime"
    fi
  fi
  [[ -f $size/$size.bingling.txt ]] || to_bingling "$rime" >"$size/$size.bingling.txt"
  [[ -f $size/$size.libime.txt ]] || to_libime "$rime" >"$size/$size.libime.txt"
  mkdir -p "$size/mb"
  [[ -f $size/mb/$size.mb ]] || "$tool" --export-mb --out "$size/mb" "$rime" >/dev/null
done

# Inputs that would expose a quadratic step.
mkdir -p edge
header=$(awk '{ print } $0 == "..." { exit }' wubi86.dict.yaml)
if [[ ! -f edge/one-code.dict.yaml ]]; then
  { echo "$header"
    awk -F'\t' 'body && !/^#/ && NF >= 2 && !seen[$1]++ && kept < 100000 { print $1 "\taaaa\t" NR; kept++ }
      $0 == "..." { body = 1 }' wubi86.dict.yaml; } >edge/one-code.dict.yaml
fi
if [[ ! -f edge/long-line.dict.yaml ]]; then
  { cat wubi86.dict.yaml
    awk 'BEGIN { for (i = 0; i < 1024; i++) block = block "字字字字"; for (i = 0; i < 850; i++) printf "%s", block; print "\taaaa" }'; } >edge/long-line.dict.yaml
fi
if [[ ! -f edge/duplicates.dict.yaml ]]; then
  { echo "$header"
    awk 'BEGIN { for (i = 0; i < 1000000; i++) print "工\ta\t99454797\taa" }'; } >edge/duplicates.dict.yaml
fi
# Inputs whose memory should stay near the file's size: 100 MB of one repeated line, and one line
# of 2 GiB that no importer takes.
if [[ ! -f edge/repeated-line.dict.yaml ]]; then
  { printf -- '---\nname: repeated\n...\n'
    awk 'BEGIN { for (i = 0; i < 12500000; i++) print "工\taaaa" }'; } >edge/repeated-line.dict.yaml
fi
if [[ ! -f edge/one-line.dict.yaml ]]; then
  { printf -- '---\nname: one-line\n...\n'
    head -c 2147483648 /dev/zero | tr '\0' 'a'
    printf '\taaaa\n'; } >edge/one-line.dict.yaml
fi

# --- measuring ------------------------------------------------------------------------------------
# Commands are measured in groups: `add NAME COMMAND...` lists one, `run_group` runs each once to
# warm the caches, then all of them in turn, `runs` rounds, and records each one's median seconds
# and peak KiB. Taking turns means a machine whose speed drifts during the run slows every command
# of the group alike, so the ratios between them hold.
declare -A seconds kib commands
group=()
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
run_once() {  # prints "seconds kib" of one run
  local start end
  start=$(date +%s%N)
  /usr/bin/time -f %M -o "$work/mem" "$@" >/dev/null 2>&1 || true
  end=$(date +%s%N)
  echo "$(((end - start) / 1000000)) $(tail -1 "$work/mem")"
}
add() {
  local name=$1
  shift
  group+=("$name")
  commands[$name]=$(printf '%q ' "$@")
}
run_group() {
  local name i result
  local -A times mems
  for name in "${group[@]}"; do
    eval "${commands[$name]}" >/dev/null
  done
  for ((i = 0; i < runs; i++)); do
    for name in "${group[@]}"; do
      result=$(eval "${commands[$name]}")
      times[$name]+="${result% *} "
      mems[$name]+="${result#* } "
    done
  done
  for name in "${group[@]}"; do
    seconds[$name]=$(printf '%s\n' ${times[$name]} | median | awk '{ printf "%.3f", $1 / 1000 }')
    kib[$name]=$(printf '%s\n' ${mems[$name]} | median)
    printf '  %-28s %8s s %8.0f MiB\n' "$name" "${seconds[$name]}" "$(echo "${kib[$name]}" | awk '{ print $1 / 1024 }')" >&2
  done
  group=()
}

ours() { run_once "$tool" "$@"; }
sort_run() { run_once env LC_ALL=C sort "$1"; }
rime_run() {  # a fresh deployment of one dictionary, as the compiler would do for a user
  local dir=$work/rime
  rm -rf "$dir" && mkdir -p "$dir/shared" "$dir/user"
  cp "$1" "$dir/shared/wubi86.dict.yaml"
  printf 'schema:\n  schema_id: bench\n  name: bench\n  version: "1"\nengine:\n  translators:\n    - table_translator\ntranslator:\n  dictionary: wubi86\n' >"$dir/shared/bench.schema.yaml"
  printf 'schema_list:\n  - schema: bench\n' >"$dir/shared/default.yaml"
  run_once rime_deployer --build "$dir/user" "$dir/shared" "$dir/user/build"
}
libime_run() {  # text -> binary -> text: times add up, memory is the larger peak
  local first second
  first=$(run_once libime_tabledict "$1" "$work/libime.bin")
  second=$(run_once libime_tabledict -d "$work/libime.bin" "$work/libime.back.txt")
  echo "$((${first% *} + ${second% *})) $((${first#* } > ${second#* } ? ${first#* } : ${second#* }))"
}

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
echo "load before: $load_before; $runs runs each" >&2
out=$work/out
for size in $sizes; do
  echo "$size ($(rows_of "$size") rows, $(du -m "$size/$size.dict.yaml" | cut -f1) MB):" >&2
  rm -rf "$out" && mkdir -p "$out"
  add "$size check" ours --check "$size/$size.dict.yaml"
  add "$size export-mb" ours --export-mb --out "$out" "$size/$size.dict.yaml"
  add "$size rescue" ours --rescue --out "$out" "$size/$size.dict.yaml"
  add "$size check bingling" ours --check "$size/$size.bingling.txt"
  add "$size check mb" ours --check "$size/mb/$size.mb"
  add "$size mb to-rime" ours --to-rime --out "$out" "$size/mb/$size.mb"
  add "$size mb to-bingling" ours --to-bingling --out "$out" "$size/mb/$size.mb"
  add "$size sort" sort_run "$size/$size.dict.yaml"
  if ((peers)); then
    add "$size rime" rime_run "$size/$size.dict.yaml"
    add "$size libime" libime_run "$size/$size.libime.txt"
  fi
  run_group
done
echo "edge cases:" >&2
for edge in one-code long-line duplicates repeated-line one-line; do
  add "$edge check" ours --check "edge/$edge.dict.yaml"
  add "$edge rescue" ours --rescue --out "$out" "edge/$edge.dict.yaml"
done
run_group
load_after=$(cut -d' ' -f1-3 /proc/loadavg)
echo "load after: $load_after" >&2

# --- table ----------------------------------------------------------------------------------------
mib() { awk -v k="${kib[$1]}" 'BEGIN { printf "%.0f", k / 1024 }'; }
cell() { [[ -n ${seconds[$1]:-} ]] && echo "${seconds[$1]} s, $(mib "$1") MiB" || echo "–"; }
# Peak memory over the input's size.
per_file() {
  [[ -n ${kib[$1]:-} ]] || { echo "–"; return; }
  awk -v k="${kib[$1]}" -v b="$(stat -c %s "$2")" 'BEGIN { printf "%.2f", k * 1024 / b }'
}
memory_ratio() {
  [[ -n ${kib[$1]:-} && -n ${kib[$2]:-} ]] || { echo "–"; return; }
  awk -v a="${kib[$1]}" -v b="${kib[$2]}" 'BEGIN { printf "%.2f", a / b }'
}
ratio() {
  [[ -n ${seconds[$1]:-} && -n ${seconds[$2]:-} ]] || { echo "–"; return; }
  awk -v a="${seconds[$1]}" -v b="${seconds[$2]}" 'BEGIN { printf (b > 0 ? "%.2f" : "–"), a / b }'
}

echo
echo "$(date -u +%Y-%m-%d), $(nproc) cores ($(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')), $(free -g | awk '/^Mem:/ { print $2 }') GiB," \
  "load average $load_before before and $load_after after; medians of $runs runs, peak resident memory"
echo
echo "| input | ours --check | ours --export-mb | ours --rescue | --check 冰凌 | --check .mb | sort | Rime | libime | check/libime | check/sort | check/Rime |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|"
for size in $sizes; do
  echo "| $size ($(rows_of "$size") rows) | $(cell "$size check") | $(cell "$size export-mb") | $(cell "$size rescue") | $(cell "$size check bingling") | $(cell "$size check mb") | $(cell "$size sort") | $(cell "$size rime") | $(cell "$size libime") | $(ratio "$size check" "$size libime") | $(ratio "$size check" "$size sort") | $(ratio "$size check" "$size rime") |"
done
echo
for size in $sizes; do
  echo "$size: rescue/check $(ratio "$size rescue" "$size check"); peak/file --check $(per_file "$size check" "$size/$size.dict.yaml"), --rescue $(per_file "$size rescue" "$size/$size.dict.yaml")"
done
# A .mb converted to text and proven, beside the export of the same rows from text.
for size in $sizes; do
  echo "$size: .mb --to-rime $(cell "$size mb to-rime"), --to-bingling $(cell "$size mb to-bingling"); to-rime/export-mb $(ratio "$size mb to-rime" "$size export-mb"), to-bingling/export-mb $(ratio "$size mb to-bingling" "$size export-mb")"
done
if [[ " $sizes " == *" 1m "* && " $sizes " == *" 5m "* ]]; then
  echo "5M/1M time: --check $(ratio "5m check" "1m check"), --rescue $(ratio "5m rescue" "1m rescue"), --check .mb $(ratio "5m check mb" "1m check mb")"
fi
if [[ " $sizes " == *" 1m "* ]]; then
  echo "1,000,000 identical lines / 1M distinct rows: --check $(ratio "duplicates check" "1m check") time, $(memory_ratio "duplicates check" "1m check") memory; --rescue $(ratio "duplicates rescue" "1m rescue") time, $(memory_ratio "duplicates rescue" "1m rescue") memory"
fi
echo
echo "| edge case | --check | --rescue |"
echo "|---|---|---|"
echo "| one code, 100,000 candidates | $(cell "one-code check") | $(cell "one-code rescue") |"
echo "| one 10 MB line in wubi86 | $(cell "long-line check") | $(cell "long-line rescue") |"
echo "| 1,000,000 duplicate lines | $(cell "duplicates check") | $(cell "duplicates rescue") |"
echo "| 100 MB of one repeated line | $(cell "repeated-line check") | $(cell "repeated-line rescue") |"
echo "| one line of 2 GiB | $(cell "one-line check") | $(cell "one-line rescue") |"
echo
echo "peak/file: repeated line --check $(per_file "repeated-line check" edge/repeated-line.dict.yaml), --rescue $(per_file "repeated-line rescue" edge/repeated-line.dict.yaml); one line --check $(per_file "one-line check" edge/one-line.dict.yaml), --rescue $(per_file "one-line rescue" edge/one-line.dict.yaml)"
