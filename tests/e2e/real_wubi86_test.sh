#!/usr/bin/env bash
# A rescue of Debian's real wubi86 dictionary must end importable with a verified .mb, and the
# exported .mb must check clean. Skips (77) when the package cannot be fetched.
# Usage: real_wubi86_test.sh PROGRAM SOURCE_DIR
set -uo pipefail

program=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

dict=/tmp/qovira-test-data/rime-data-wubi/usr/share/rime-data/wubi86.dict.yaml
if [[ ! -f $dict ]]; then
  if ! (apt-get download rime-data-wubi >/dev/null 2>&1 && dpkg-deb -x rime-data-wubi_*.deb pkg); then
    echo "rime-data-wubi cannot be fetched here: skipped"
    exit 77
  fi
  dict=$work/pkg/usr/share/rime-data/wubi86.dict.yaml
fi
cp "$dict" wubi86.dict.yaml

failed=0
expect() {
  local what=$1
  shift
  if ! "$@"; then
    echo "FAIL: $what"
    failed=$((failed + 1))
  fi
}

"$program" --rescue wubi86.dict.yaml >rescue.out
code=$?
cat rescue.out
expect "rescue exits 0" test "$code" == 0
expect "the re-check says importable" grep -q '^     修复后复检：词条 [0-9]*，可导入$' rescue.out
expect "the .mb is verified" grep -q '^     导出 [0-9]* 条 → wubi86.mb（已回读校验：' rescue.out

"$program" --check wubi86.mb >check.out
code=$?
cat check.out
expect "the exported .mb checks importable" test "$code" == 0

# The exported .mb written back as text exports to the very same .mb: as a Rime dictionary at once,
# as a 冰凌 table but for the description (a 冰凌 table names itself "冰凌码表："), and the 冰凌
# table written as a Rime dictionary again.
mkdir -p rime bingling back
"$program" --to-rime --out rime wubi86.mb >to-rime.out
"$program" --to-bingling --out bingling wubi86.mb >to-bingling.out
cat to-rime.out to-bingling.out
expect "both conversions are verified" test "$(cat to-rime.out to-bingling.out | grep -c '（已回读校验：')" == 2
"$program" --export-mb --out rime rime/wubi86.dict.yaml >/dev/null
"$program" --export-mb --out bingling bingling/wubi86.txt >/dev/null
"$program" --to-rime --out back bingling/wubi86.txt >/dev/null
"$program" --export-mb --out back back/wubi86.dict.yaml >/dev/null
expect ".mb → Rime → .mb is identical" cmp -s wubi86.mb rime/wubi86.mb
expect ".mb → 冰凌 → .mb is identical but the description" \
  cmp -s <(tail -c +288 wubi86.mb) <(tail -c +288 bingling/wubi86.mb)
expect ".mb → 冰凌 → Rime → .mb is identical" cmp -s wubi86.mb back/wubi86.mb

# The same dictionary saved in the legacy code page: the rescue converts it and exports the very
# .mb the UTF-8 original gives.
if iconv -f UTF-8 -t GB18030 wubi86.dict.yaml >gbk.dict.yaml 2>/dev/null; then
  mkdir -p direct legacy
  "$program" --export-mb --out direct wubi86.dict.yaml >/dev/null
  "$program" --rescue --out legacy gbk.dict.yaml >legacy.out
  cat legacy.out
  expect "the GBK copy is diagnosed as such" grep -q 'GBK/GB18030' <("$program" --report gbk.dict.yaml)
  expect "the GBK copy rescues to the original's .mb" cmp -s direct/wubi86.mb legacy/gbk.mb
fi

echo "$((failed == 0 ? 1 : 0)) passed, $failed failed"
[[ $failed == 0 ]]
