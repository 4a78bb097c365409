#!/usr/bin/env bash
# The whole-text mends of a rescue, one table per row: each source is rescued into a repaired text
# that holds what the row says and ends in a verified .mb (unless the row expects none), the output
# names the mend, and fixing the repaired text again changes nothing.
# Usage: rescue_mends_test.sh PROGRAM SOURCE_DIR
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

# row NAME FILE SOURCE REPAIRED SAYS: SOURCE and REPAIRED are printf formats; REPAIRED "-" expects
# the repaired text to be the source's lines as they stand and no .mb.
row() {
  local name=$1 file=$2 source=$3 repaired=$4 says=$5
  mkdir "$name" && cd "$name" || return
  printf -- "$source" >"$file"
  local stem=${file%.*} ext=${file##*.}
  stem=${stem%.dict}
  "$program" --rescue "$file" >rescue.out
  expect "$name: the output says $says" grep -qF -- "$says" rescue.out
  if [[ $repaired == - ]]; then
    expect "$name: the lines stay as they stand" test "$(cat "$stem.repaired.$ext")" == "$(cat "$file")"
    expect "$name: no .mb" test ! -e "$stem.mb"
  else
    expect "$name: the repaired text" test "$(cat "$stem.repaired.$ext")" == "$(printf -- "$repaired")"
    expect "$name: a verified .mb" grep -qF "→ $stem.mb（已回读校验" rescue.out
  fi
  "$program" --fix "$stem.repaired.$ext" >again.out
  expect "$name: a second repair changes nothing" grep -q '修复 0 处' again.out
  expect "$name: a second repair keeps the text" \
    cmp -s "$stem.repaired.$ext" "$stem.repaired.repaired.$ext"
  cd ..
}

# UTF-8 cut inside its last character: repaired as UTF-8, the damaged line taken out.
row damaged t.dict.yaml '---\nname: t\n...\n中国\tkhlg\n工作\taawt\n我\344' \
  '---\nname: t\n...\n中国\tkhlg\n工作\taawt' '第6行 已移出：含损坏的 UTF-8 字节 E4'
# A GBK table is still converted.
row gbk g.dict.yaml '---\nname: gbk\n...\n\271\244\taaaa\n\310\313\twwww\n' \
  '---\nname: gbk\n...\n工\taaaa\n人\twwww' '把 GBK/GB18030 编码转成 UTF-8'

# A byte-order mark before the header: named as the cause, then removed.
row bom-rime b.dict.yaml '\357\273\277---\nname: t\n...\n中国\tkhlg\n' \
  '---\nname: t\n...\n中国\tkhlg' '第一行的 --- 前面有 UTF-8 的 BOM'
row bom-bingling b.txt '\357\273\277[CODETABLEHEADER]\nName=t\n[CODETABLE]\nkhlg\t中国\n' \
  '[CODETABLEHEADER]\nName=t\n[CODETABLE]\nkhlg\t中国' '第1行 删掉了文件开头的 BOM（EF BB BF）'

# Lone CRs end lines though the text holds an LF.
row cr-final-lf c.dict.yaml '---\rname: t\r...\r中国\tkhlg\r工作\taawt\n' \
  '---\nname: t\n...\n中国\tkhlg\n工作\taawt' '把单独的 CR 行尾换成 LF'
row cr-under-crlf c.dict.yaml '---\r\nname: t\r\n...\r\n中国\tkhlg\r工作\taawt\r' \
  '---\nname: t\n...\n中国\tkhlg\n工作\taawt' '原文件有 2 处行尾只用 CR'

# "---" without "...": the table's own header is closed, its settings kept.
row unclosed-columns u.dict.yaml '---\nname: u\ncolumns:\n  - code\n  - text\nkhlg\t中国\naawt\t工作\n' \
  '---\nname: u\ncolumns:\n  - code\n  - text\n...\nkhlg\t中国\naawt\t工作' \
  '补上了 Rime 头部的结束行 ...'
row unclosed-weighted w.dict.yaml '---\nname: 五笔\nsort: by_weight\n中国\tkhlg\t10\n工作\taawt\t5\n' \
  '---\nname: 五笔\nsort: by_weight\n...\n中国\tkhlg\t10\n工作\taawt\t5' '头部的设置到第 3 行为止'

# No header at all: one is added, its column order read from the lines.
row list-text-first l.txt '中国\tkhlg\n工作\taawt\n' \
  '---\nname: l\nversion: "1.0"\nsort: original\n...\n中国\tkhlg\n工作\taawt' '2 行里有 2 行是“词 Tab 编码”'
row list-code-first k.txt 'khlg\t中国\naawt\t工作\n' \
  '---\nname: k\nversion: "1.0"\nsort: original\ncolumns:\n  - code\n  - text\n...\nkhlg\t中国\naawt\t工作' \
  '补上了 Rime 头部（--- / name / sort / columns / ...）'
row list-unclear m.txt 'khlg\t中国\n中国\tkhlg\n' - '没有补 Rime 头部，看不出哪一列是词、哪一列是编码'

# A "[CODETABLE]" line of its own in a Rime dictionary, and a file named like the marker.
row marker-line d.dict.yaml '---\nname: t\n...\n[CODETABLE]\n中国\tkhlg\n工作\taawt\n' \
  '---\nname: t\n...\n\n中国\tkhlg\n工作\taawt' '第4行 删掉了会被认成冰凌分节的字样：[CODETABLE]'
row marker-name '[CODETABLE].dict.yaml' '中国\tkhlg\n' \
  '---\nname: CODETABLE\nversion: "1.0"\nsort: original\n...\n中国\tkhlg' '修复后复检：词条 1，可导入'

echo "$passed passed, $failed failed"
((failed == 0))
