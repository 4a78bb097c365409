#!/usr/bin/env bash
# Careless and hostile batch runs: outputs never land on a source or on an earlier output of the
# run, a failed write counts, the full repair report is saved, and nothing from a table or a path
# reaches the terminal as a control character.
# Usage: batch_outputs_test.sh PROGRAM SOURCE_DIR
set -uo pipefail

program=$(realpath "$1")
samples=$(realpath "$2")/samples
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

# An output that is another source of the same run is refused and counted.
printf -- '---\nname: one\n...\n我\ttrnt\n' >one.dict.yaml
"$program" --export-mb one.dict.yaml >/dev/null
mv one.mb a.mb
cp a.mb a.orig
cp "$samples/broken-wubi.dict.yaml" a.dict.yaml
"$program" --export-mb a.dict.yaml a.mb >other.out
expect "another source: exit 1" test $? == 1
expect "another source: a.mb is untouched" cmp -s a.mb a.orig
expect "another source: refused" grep -q '!! 导出失败：输出文件是这次要处理的另一份源文件' other.out

# Two sources mapping to one output: the later one is refused, naming the earlier.
mkdir -p d1 d2 out
cp one.dict.yaml d1/t.dict.yaml
cp one.dict.yaml d2/t.dict.yaml
"$program" --rescue --out out d1/t.dict.yaml d2/t.dict.yaml >twice.out
expect "one output twice: exit 1" test $? == 1
expect "one output twice: written once" test "$(grep -c '导出 1 条 → out/t.mb' twice.out)" == 1
expect "one output twice: the later is refused naming the earlier" \
  grep -q '!! 修复失败：这次运行里已经由 d1/t.dict.yaml 写出过这个文件，不能再覆盖：out/t.repaired.yaml' twice.out

# A repaired text that cannot be written counts as a problem.
"$program" --fix --out /nonexistent one.dict.yaml >nowhere.out
expect "unwritable repair: exit 1" test $? == 1
expect "unwritable repair: counted" grep -q '共 1 份，1 份有问题' nowhere.out

# The full repair report is saved beside the repaired text and named where lines are left out.
{
  printf -- '---\nname: many\n...\n'
  for i in $(seq 1 12); do printf '字%s\tAAA%s\n' "$i" "$(printf '%b' "\\x$(printf '%x' $((96 + i)))")"; done
  for i in $(seq 1 7); do printf 'line%s without tab\n' "$i"; done
} >many.dict.yaml
"$program" --fix many.dict.yaml >many.out
expect "report: saved" test -f 'many-修复报告.txt'
expect "report: starts with a byte-order mark" test "$(head -c 3 'many-修复报告.txt' | od -An -tx1 | tr -d ' ')" == efbbbf
expect "report: CR LF line ends" grep -q $'\r$' 'many-修复报告.txt'
expect "report: the changes line names it" grep -q '…还有 4 处，详见 many-修复报告.txt' many.out
expect "report: the kept line names it" grep -q '…还有 2 处待人工，详见 many-修复报告.txt' many.out

# Control characters from a table and from a file name are shown escaped.
printf -- '---\nname: t\n...\n工\taaaa\nx\033]0;pwned\007 no tab\n\342\200\256evil\tab\302\233\n' >e.dict.yaml
"$program" --report e.dict.yaml >e.out
expect "escapes: no ESC, BEL or C1 control reaches the terminal" \
  test "$(LC_ALL=C grep -c $'[\x01-\x08\x0b-\x1f\x7f]\|\xc2[\x80-\x9f]\|\xe2\x80[\xaa-\xae]\|\xe2\x81[\xa6-\xa9]' e.out)" == 0
expect "escapes: shown as escapes" grep -qF 'x\u{1b}]0;pwned\u{7}' e.out
fake=$'x\n假的.txt                                     Rime 词典（.dict.yaml）  词条       1  致命0 警告0 提示0  可导入'
cp one.dict.yaml "$fake"
"$program" --check "$fake" >fake.out
expect "escapes: a file name cannot forge a line" test "$(wc -l <fake.out)" == 3

echo "$passed passed, $failed failed"
((failed == 0))
