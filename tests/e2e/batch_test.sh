#!/usr/bin/env bash
# End-to-end runs of the built program in a scratch directory: standard output, exit code and every
# output file are compared with the golden files under tests/e2e/golden/.
# Usage: batch_test.sh PROGRAM SOURCE_DIR   (QOVIRA_UPDATE_GOLDEN=1 rewrites the golden files)
set -uo pipefail

program=$(realpath "$1")
source_dir=$(realpath "$2")
golden="$source_dir/tests/e2e/golden"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

passed=0
failed=0

# compare NAME ACTUAL_FILE: checks a file against golden/NAME.
compare() {
  local name=$1 actual=$2
  if [[ ${QOVIRA_UPDATE_GOLDEN:-} == 1 ]]; then
    mkdir -p "$(dirname "$golden/$name")"
    cp "$actual" "$golden/$name"
  fi
  if cmp -s "$actual" "$golden/$name"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: $name differs from its golden file:"
    diff -u "$golden/$name" "$actual" | head -40
  fi
}

# run NAME EXPECTED_CODE ARGS...: runs the program, compares its output and exit code.
run() {
  local name=$1 expected=$2
  shift 2
  "$program" "$@" >"$work/.stdout" 2>"$work/.stderr"
  local code=$?
  if [[ $code != "$expected" ]]; then
    failed=$((failed + 1))
    echo "FAIL: $name exited $code, expected $expected"
    cat "$work/.stderr"
  fi
  if [[ -s "$work/.stderr" ]]; then
    failed=$((failed + 1))
    echo "FAIL: $name wrote to standard error:"
    cat "$work/.stderr"
  fi
  compare "$name.out" "$work/.stdout"
}

check_true() {
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: $what"
  fi
}

# --- inputs -------------------------------------------------------------------------------------
mkdir -p in out
printf -- '---\nname: 干净\nsort: original\n...\n工\ta\n了\tb\n以\tc\n工作\taawt\n' >in/clean.dict.yaml
printf '[CODETABLEHEADER]\nName=冰凌样例\nCodeCharacters=abcdefghijklmnopqrstuvwxyz\n[CODETABLE]\na\t工\t9\nb\t了\t5\naawt\t工作\t3\n' \
  >in/bingling.txt
printf '\xff\xfe\x00' >in/garbage.bin
printf 'just some notes\n' >in/notes.txt
cp "$source_dir/samples/broken-wubi.dict.yaml" in/broken-wubi.dict.yaml
cp "$source_dir/samples/broken-bingling.txt" in/broken-bingling.txt

# --- usage --------------------------------------------------------------------------------------
run usage 2 --help
run usage-bare-check 2 --check

# --- check and report ---------------------------------------------------------------------------
run check-good 0 --check in/clean.dict.yaml in/bingling.txt
run check-mixed 1 --check in/clean.dict.yaml in/missing.yaml in/garbage.bin in/notes.txt \
  in/broken-wubi.dict.yaml
run report-two 1 --report in/clean.dict.yaml in/notes.txt

# --- rescue of a broken table -------------------------------------------------------------------
before=$(sha256sum in/broken-bingling.txt)
run rescue-broken 1 --rescue --out out in/broken-bingling.txt
compare rescue-broken.repaired.txt out/broken-bingling.repaired.txt
check_true "the source is unchanged" test "$before" == "$(sha256sum in/broken-bingling.txt)"
run rescue-with-warnings 0 --rescue --out out in/broken-wubi.dict.yaml
compare rescue-with-warnings.repaired.yaml out/broken-wubi.repaired.yaml
run check-rescued 0 --check out/broken-bingling.repaired.txt out/broken-bingling.mb \
  out/broken-wubi.repaired.yaml out/broken-wubi.mb
check_true "no temporary files are left" test -z "$(find out -name '*.tmp-*')"

# --- export, naming and guards ------------------------------------------------------------------
cp in/clean.dict.yaml wubi.dict.yaml
cp in/bingling.txt a.dict.dict.txt
cp in/clean.dict.yaml codes
long_name=这是一个名字特别特别长的码表文件用来检查对齐不会截断任何字符也不会出错.dict.yaml
cp in/clean.dict.yaml "$long_name"
run fix-naming 0 --fix wubi.dict.yaml a.dict.dict.txt codes "$long_name"
check_true "wubi.repaired.yaml written" test -f wubi.repaired.yaml
check_true "a.repaired.txt written" test -f a.repaired.txt
check_true "codes.repaired.yaml written" test -f codes.repaired.yaml

run export-clean 0 --export-mb wubi.dict.yaml
check_true "wubi.mb written" test -f wubi.mb
cp wubi.mb copy.mb
before=$(sha256sum wubi.mb)
run export-mb-over-itself 1 --export-mb wubi.mb
check_true "a .mb source is never overwritten" test "$before" == "$(sha256sum wubi.mb)"
ln -s . same-dir
run export-mb-through-link 1 --export-mb --out same-dir wubi.mb
check_true "a .mb source is not overwritten through a link" test "$before" == "$(sha256sum wubi.mb)"
run rescue-mb 1 --rescue copy.mb --out nowhere
# The repaired text cannot be written (a directory holds its name): the source's own table is
# exported, and the file counts as a problem.
mkdir -p blocked/clean.repaired.yaml
run rescue-repair-unwritable 1 --rescue --out blocked in/clean.dict.yaml
check_true "the export still happened" test -f blocked/clean.mb
run export-unparsable 1 --export-mb in/notes.txt

echo "$passed passed, $failed failed"
[[ $failed == 0 ]]
