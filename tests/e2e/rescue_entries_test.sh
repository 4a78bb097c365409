#!/usr/bin/env bash
# Tables one entry line away from importing: the rescue mends each line the importer would refuse,
# or takes it out and lists it with its reason, and always ends with a verified .mb. Also the labels
# of taken-out and kept lines, and characters that could forge an output line.
# Usage: rescue_entries_test.sh PROGRAM SOURCE_DIR
set -uo pipefail

program=$(realpath "$1")
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
# rescued NAME: the rescue of NAME exported a verified .mb.
rescued() { grep -q '已回读校验' "$1.out"; }

# name | table (printf format) | a text the rescue prints | the repaired text holds
cases=(
  "comma|[CODETABLEHEADER]\nName=t\n[CODETABLE]\naaaa\t工\nwwww\t人\nab,c\t甲\n|第6行 已移出：|wwww	人"
  "pin-space|[CODETABLEHEADER]\nName=t\n[CODETABLE]\naaaa *\t工\n|编码 aaaa * → aaaa*|aaaa*	工"
  "full-width-punctuation|[CODETABLEHEADER]\nName=t\n[CODETABLE]\naa，\t工\nbb\t人\n|已移出|bb	人"
  "code-length|[CODETABLEHEADER]\nName=t\nCodeLength=abc\n[CODETABLE]\naaa\t工\n|CodeLength=abc → CodeLength=3|CodeLength=3"
  "alphabet|[CODETABLEHEADER]\nCodeCharacters=ab\n[CODETABLE]\nab\t工\nxy\t人\n|CodeCharacters=ab → CodeCharacters=abxy|xy	人"
  "lost-tab|---\nname: t\nsort: by_weight\n...\n工作 aawt\t80\n中国\tkhlg\t9\n|空格改成 Tab|工作	aawt	80"
  "swapped|---\nname: t\n...\nkhfj\t中华\n中国\tkhlg\n|文字列与编码列对调|中华	khfj"
  "full-width-letters|---\nname: t\n...\n中国\tｋｈｌｇ\n|编码 ｋｈｌｇ → khlg|中国	khlg"
)
for case in "${cases[@]}"; do
  IFS='|' read -r name table says holds <<<"$case"
  ext=txt
  [[ $table == ---* ]] && ext=dict.yaml
  # shellcheck disable=SC2059
  printf -- "$table" >"$name.$ext"
  "$program" --rescue "$name.$ext" >"$name.out"
  expect "$name: the rescue exports a verified .mb" rescued "$name"
  expect "$name: says '$says'" grep -qF -- "$says" "$name.out"
  expect "$name: the repaired text holds '$holds'" grep -qF -- "$holds" "$name.repaired.${ext##*.}"
  "$program" --fix --out . "$name.repaired.${ext##*.}" >"$name.again" 2>&1
  expect "$name: a second repair changes nothing" grep -q '修复 0 处' "$name.again"
done

# A text too long for a .mb record, in either format: taken out with the importer's reason.
long=$(printf '字%.0s' {1..130})
printf -- '---\nname: t\n...\n%s\taa\n工\taaaa\n' "$long" >long.dict.yaml
"$program" --rescue long.dict.yaml >long.out
expect "long text: listed with the reason" grep -q '原因：词条 UTF-16 长度必须为 1–255 字节' long.out
expect "long text: rescued" rescued long

# Line and paragraph separators and direction marks from a table never reach the terminal raw.
printf -- '---\nname: t\n...\n工\tA\342\200\250B\n' >sep.dict.yaml
"$program" --rescue sep.dict.yaml >sep.out
expect "separators: escaped" grep -qF '\u{2028}' sep.out
expect "separators: none raw" bash -c "! grep -q $'\u2028' sep.out"

echo "$passed passed, $failed failed"
((failed == 0))
