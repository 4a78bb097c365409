#!/usr/bin/env bash
# The system's error texts follow the user's language; nothing else does. Skipped (77) where the
# Chinese locale is not installed (Debian: the locales and libc-l10n packages, zh_CN.UTF-8
# generated).
# Usage: messages_locale_test.sh PROGRAM SOURCE_DIR
set -uo pipefail

program=$(realpath "$1")
samples=$(realpath "$2")/samples
if ! locale -a 2>/dev/null | grep -qix 'zh_CN\.utf-\?8'; then
  echo "SKIP: the zh_CN.UTF-8 locale is not installed"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
unset LANGUAGE LC_ALL LC_MESSAGES LC_CTYPE

passed=0
failed=0

# says LANG TEXT ARGS...: the program run with LANG prints a line containing TEXT.
says() {
  local lang=$1 text=$2
  shift 2
  LANG=$lang "$program" "$@" >.stdout 2>&1
  if grep -qF -- "$text" .stdout; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: with LANG=$lang the program did not say: $text"
    head -c 2000 .stdout
  fi
}

says zh_CN.UTF-8 "读不出这个文件：没有那个文件或目录" --check missing.dict.yaml
says C "读不出这个文件：No such file or directory" --check missing.dict.yaml
says zh_CN.UTF-8 "!! 输出目录不存在：no/such/dir（没有那个文件或目录）" --export-mb --out no/such/dir \
  "$samples/broken-wubi.dict.yaml"

# Every other output stays byte for byte the same in either language.
for sample in "$samples"/*; do
  LANG=C "$program" --report "$sample" >c.txt 2>&1
  LANG=zh_CN.UTF-8 "$program" --report "$sample" >zh.txt 2>&1
  if cmp -s c.txt zh.txt; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: the report of $sample differs between LANG=C and LANG=zh_CN.UTF-8"
    diff c.txt zh.txt | head -20
  fi
done

echo "$passed passed, $failed failed"
[[ $failed == 0 ]]
