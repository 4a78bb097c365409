#!/usr/bin/env bash
# Tables a maintainer meets whose lines the importer, the diagnosis and the repair once read in
# different ways: each must now import the same entries before and after a rescue, and the repair
# must leave the lines outside the body alone. Also the legacy code page and the hostile base name.
# Usage: one_reading_test.sh PROGRAM SOURCE_DIR
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
# entries FILE: the number of entries the check line of FILE reports.
entries() {
  "$program" --check "$1" | head -1 | sed -E 's/.*词条 +([0-9]+) .*/\1/'
}

# Codes with white space other than a tab: the importer joins it out, so nothing is dropped.
printf -- '---\nname: m\n...\n工\taaaa\n' >m.dict.yaml
for c in a b c d e f g h; do printf '字%s\t%sx\343\200\200yz\n' "$c" "$c" >>m.dict.yaml; done
printf '字i\tix\302\240y\342\200\203z\n字j\tj\vx\n' >>m.dict.yaml
"$program" --rescue m.dict.yaml >m.out
expect "white-space codes: rescue exits 0" test $? == 0
expect "white-space codes: the source imports 11" test "$(entries m.dict.yaml)" == 11
expect "white-space codes: the .mb holds all 11" grep -q '导出 11 条 → m.mb' m.out
expect "white-space codes: no warning" grep -q '致命0 警告0 提示0  可导入' m.out

# 冰凌 settings pass unchanged and are no kept lines; the .mb keeps the table's name.
printf '[CODETABLEHEADER]\nName=五笔\t86\nCodeLength=4\t\n[CODETABLE]\na\t工\n' >h.txt
"$program" --rescue h.txt >h.out
expect "settings: the repaired text is the source" cmp -s h.txt h.repaired.txt
expect "settings: nothing changed or kept" grep -q '修复 0 处，保留待人工 0 处' h.out
"$program" --report h.mb >h.report
expect "settings: the .mb keeps the name" grep -q 'Name=五笔' h.repaired.txt

# Old Mac line ends: turned into LF first, then repaired as usual.
printf -- '---\rname: mac\r...\r工\taaaa\r人\tWWWW\r' >mac.dict.yaml
"$program" --fix mac.dict.yaml >mac.out
expect "CR line ends: the repaired text has LF line ends" \
  test "$(cat mac.repaired.yaml)" == "$(printf -- '---\nname: mac\n...\n工\taaaa\n人\twwww')"
expect "CR line ends: the change is listed" grep -q '把只用 CR 的旧式行尾换成 LF' mac.out
expect "CR line ends: the result imports both" grep -q '修复后复检：词条 2，可导入' mac.out

# A Rime dictionary whose comment mentions the 冰凌 marker: the marker goes, the entries stay.
printf -- '# 由 [CODETABLE] 格式转换而来\n---\nname: t\n...\n工\taaaa\n' >c.dict.yaml
"$program" --fix c.dict.yaml >c.out
expect "marker: the comment loses the marker" \
  test "$(head -1 c.repaired.yaml)" == '# 由  格式转换而来'
expect "marker: the entry stays" grep -q "$(printf '^工\taaaa$')" c.repaired.yaml
expect "marker: the result is a Rime dictionary that imports" \
  grep -q '修复后复检：词条 1，可导入' c.out

# A base name with a line break cannot add keys to the header added to a text that lacks one.
name=$'evil\ncolumns:\n  - code\n  - text'
printf '工\taaaa\n人\twwww\n' >"$name.txt"
"$program" --fix "$name.txt" >evil.out
expect "base name: the header has its five lines" \
  test "$(sed -n 5p "$name.repaired.txt")" == '...'
expect "base name: both entries import" grep -q '修复后复检：词条 2，可导入' evil.out
expect "base name: no raw line break reaches the output" \
  test "$(grep -c '^columns:' evil.out)" == 0

# The body section in another letter case: no warning about the settings.
printf '[CODETABLEHEADER]\nName=小写\n[codetable]\na\t工\n' >lower.txt
expect "section case: no warnings" grep -q '致命0 警告0 提示0  可导入' <("$program" --check lower.txt)

# A table in the legacy code page: diagnosed as such, repaired into UTF-8 and exported.
printf -- '---\nname: gbk\n...\n\271\244\taaaa\n\310\313\twwww\n' >legacy.dict.yaml
"$program" --rescue legacy.dict.yaml >legacy.out
expect "GBK: the rescue ends with a verified .mb" grep -q '导出 2 条 → legacy.mb（已回读校验' legacy.out
expect "GBK: the conversion is listed" grep -q '把 GBK/GB18030 编码转成 UTF-8' legacy.out
expect "GBK: the repaired text is UTF-8" \
  test "$(sed -n 4p legacy.repaired.yaml)" == "$(printf '工\taaaa')"
printf -- '---\nname: x\n...\n\200\taaaa\n' >broken.dict.yaml
"$program" --fix broken.dict.yaml >broken.out
expect "not GB18030: the damaged line is taken out, nothing converted" grep -q '已移出：含损坏的 UTF-8 字节 80' broken.out

echo "$passed passed, $failed failed"
((failed == 0))
