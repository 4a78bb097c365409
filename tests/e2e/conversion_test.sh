#!/usr/bin/env bash
# --to-rime and --to-bingling end to end: outputs named as the other modes name theirs (golden
# output and files), never written over a source or an earlier output, nothing written when an
# entry does not fit, and a .mb written as text and exported again is the same .mb.
# Usage: conversion_test.sh PROGRAM SOURCE_DIR   (QOVIRA_UPDATE_GOLDEN=1 rewrites the golden files)
set -uo pipefail

program=$(realpath "$1")
source_dir=$(realpath "$2")
golden="$source_dir/tests/e2e/golden/conversion"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

passed=0
failed=0
expect() {
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    echo "FAIL: $what"
    failed=$((failed + 1))
  fi
}

# golden NAME FILE: the file matches golden/NAME.
golden() {
  if [[ ${QOVIRA_UPDATE_GOLDEN:-} == 1 ]]; then
    mkdir -p "$golden"
    cp "$2" "$golden/$1"
  fi
  if ! cmp -s "$2" "$golden/$1"; then
    diff -u "$golden/$1" "$2" | head -30
  fi
  expect "$1 matches its golden file" cmp -s "$2" "$golden/$1"
}

# --- inputs -------------------------------------------------------------------------------------
mkdir -p in d1 d2
printf -- '---\nname: 干净\nsort: original\n...\n工\ta\n了\tb\n以\tc\n工作\taawt\n' >in/clean.dict.yaml
printf '[CODETABLEHEADER]\nName=冰凌样例\nCodeCharacters=abcdefghijklmnopqrstuvwxyz/\nPhraseRule=p11+p21+p31+p32/p11+p12+p21+p22\n[CODETABLE]\na\t工\t9\nb\t了\t5\nb*\t子\t1\naawt\t工作\t3\nz/\t斜\t2\nab\t#号\t4\n' \
  >in/bingling.txt
# A code a 冰凌 table cannot hold. (The 冰凌 table's "#号" starts a comment where a Rime text leads
# its line: its Rime dictionary puts the code first.)
printf -- '---\nname: odd\n...\n工\ta\t99\n分号\tx;\t5\n' >in/odd.dict.yaml
cp in/bingling.txt d1/t.txt
cp in/bingling.txt d2/t.txt

# --- both modes, golden output and files ---------------------------------------------------------
for mode in rime bingling; do
  mkdir -p "out-$mode"
  "$program" --to-$mode --out "out-$mode" in/clean.dict.yaml in/bingling.txt in/odd.dict.yaml \
    >"to-$mode.out"
  expect "--to-$mode: exits 1 only for the table that does not fit" test $? == "$([[ $mode == bingling ]] && echo 1 || echo 0)"
  golden "to-$mode.out" "to-$mode.out"
  for file in "out-$mode"/*; do
    golden "${file//\//-}" "$file"
  done
done
expect "nothing is written for a table that does not fit" test ! -e out-bingling/odd.txt

# --- outputs that must not be written -----------------------------------------------------------
cp in/clean.dict.yaml clean.dict.yaml
cp clean.dict.yaml clean.orig
"$program" --to-rime clean.dict.yaml >self.out
expect "the source itself: exit 1" test $? == 1
expect "the source itself: untouched" cmp -s clean.dict.yaml clean.orig
expect "the source itself: refused" grep -q '!! 转换失败：输出文件就是源文件本身' self.out
cp in/bingling.txt clean.txt
cp clean.txt bingling.orig
"$program" --to-bingling clean.dict.yaml clean.txt >other.out
expect "another source: untouched" cmp -s clean.txt bingling.orig
expect "another source: refused" grep -q '!! 转换失败：输出文件是这次要处理的另一份源文件' other.out
mkdir -p twice
"$program" --to-rime --out twice d1/t.txt d2/t.txt >twice.out
expect "written before: refused naming the earlier source" \
  grep -q '!! 转换失败：这次运行里已经由 d1/t.txt 写出过这个文件' twice.out

# --- .mb → text → .mb -----------------------------------------------------------------------------
# A .mb converted to the text of its own format exports to the very same bytes; to the other
# format, to the same index and records (the header then names the other format, and a Rime
# dictionary has no place for a second phrase rule).
same_records() {
  cmp -s <(tail -c +443 "$1") <(tail -c +443 "$2")
}
mkdir -p mb
"$program" --rescue --out mb "$source_dir/samples/broken-bingling.txt" >/dev/null
"$program" --export-mb --out mb in/bingling.txt "$source_dir/samples/broken-wubi.dict.yaml" >/dev/null
round_trip() {  # round_trip SOURCE.mb MODE EXPECTATION
  local source=$1 mode=$2 name extension
  name=$(basename "$source" .mb)
  extension=$([[ $mode == rime ]] && echo dict.yaml || echo txt)
  mkdir -p "round-$mode"
  "$program" --to-$mode --out "round-$mode" "$source" >/dev/null
  "$program" --export-mb --out "round-$mode" "round-$mode/$name.$extension" >/dev/null
  if [[ $3 == identical ]]; then
    expect "$name.mb → $mode → .mb: identical" cmp -s "$source" "round-$mode/$name.mb"
  else
    expect "$name.mb → $mode → .mb: the same records" same_records "$source" "round-$mode/$name.mb"
  fi
}
round_trip mb/bingling.mb bingling identical
round_trip mb/broken-bingling.mb bingling identical
round_trip mb/broken-bingling.mb rime records
round_trip mb/broken-wubi.mb rime identical
round_trip mb/broken-wubi.mb bingling records

echo "$passed passed, $failed failed"
((failed == 0))
