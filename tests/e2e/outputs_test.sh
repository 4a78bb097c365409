#!/usr/bin/env bash
# Output files end to end: an interrupted run leaves no temporary file and ends with the status of
# the signal, and outputs are never readable by more people than their source or the file they
# replace.
# Usage: outputs_test.sh PROGRAM SOURCE_DIR
set -uo pipefail

program=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
umask 022

passed=0
failed=0

fail() {
  failed=$((failed + 1))
  echo "FAIL: $*"
}

check() {
  if eval "$2"; then
    passed=$((passed + 1))
  else
    fail "$1"
  fi
}

clean_dict() {
  printf -- '---\nname: 干净\n...\n工\taaaa\n了\tbnh\n以\tnywy\n工作\taawt\n'
}

temporaries() {
  find "$1" -name '.qovira.tmp-*'
}

# --- an interrupted run -------------------------------------------------------------------------
# Three million rows: a 47 MB repaired text and a 67 MB .mb, whose temporary files exist long
# enough to be seen.
LC_ALL=C awk 'BEGIN {
  print "---"; print "name: 大表"; print "..."
  for (i = 0; i < 3000000; i++) {
    n = i; code = ""
    for (k = 0; k < 4; k++) { code = code substr("abcdefghijklmnopqrstuvwxy", n % 25 + 1, 1); n = int(n / 25) }
    print "工" i "\t" code
  }
}' >big.dict.yaml

# interrupt SIGNAL STATUS: starts a rescue of the big table, sends SIGNAL as soon as a temporary
# file exists, and checks the exit status and what is left in the output folder.
interrupt() {
  local signal=$1 expected=$2 attempt pid code
  for attempt in 1 2 3; do
    rm -rf out
    mkdir out
    echo earlier >out/big.repaired.yaml
    echo earlier >out/big.mb
    # A background job of a script starts with SIGINT ignored; the program must see it.
    env --default-signal="$signal" "$program" --rescue --out out big.dict.yaml >.stdout 2>.stderr &
    pid=$!
    while kill -0 "$pid" 2>/dev/null && [[ -z $(temporaries out) ]]; do
      :
    done
    kill -s "$signal" "$pid" 2>/dev/null
    wait "$pid"
    code=$?
    if [[ $code == "$expected" ]]; then
      break
    fi
    # Finished before the signal came: try again, the temporary file exists for a while only.
    echo "note: $signal attempt $attempt ended with $code before the signal arrived"
  done
  check "$signal: exit status $code, expected $expected" "[[ $code == $expected ]]"
  check "$signal: a temporary file was left: $(temporaries out)" "[[ -z \$(temporaries out) ]]"
  check "$signal: an earlier output was damaged" \
    "[[ \$(cat out/big.mb) == earlier || \$(head -c 18 out/big.mb) == 'Freeime Dictionary' ]]"
  check "$signal: wrote to standard error" "[[ ! -s .stderr ]]"
}

interrupt TERM 143
interrupt INT 130
interrupt HUP 129
rm -f big.dict.yaml

# --- permissions --------------------------------------------------------------------------------
mkdir -p private
clean_dict >private/secret.dict.yaml
chmod 600 private/secret.dict.yaml
"$program" --rescue private/secret.dict.yaml >.stdout 2>&1
check "private source: the repaired text is $(stat -c %a private/secret.repaired.yaml)" \
  "[[ \$(stat -c %a private/secret.repaired.yaml) == 600 ]]"
check "private source: the .mb is $(stat -c %a private/secret.mb)" \
  "[[ \$(stat -c %a private/secret.mb) == 600 ]]"

mkdir -p open
clean_dict >open/table.dict.yaml
chmod 644 open/table.dict.yaml
echo earlier >open/table.mb
chmod 600 open/table.mb
"$program" --export-mb open/table.dict.yaml >.stdout 2>&1
check "replaced .mb: $(stat -c %a open/table.mb), expected 600" \
  "[[ \$(stat -c %a open/table.mb) == 600 && \$(head -c 18 open/table.mb) == 'Freeime Dictionary' ]]"
rm open/table.mb
"$program" --export-mb open/table.dict.yaml >.stdout 2>&1
check "new .mb of an open source: $(stat -c %a open/table.mb), expected 644" \
  "[[ \$(stat -c %a open/table.mb) == 644 ]]"

echo "$passed passed, $failed failed"
[[ $failed == 0 ]]
