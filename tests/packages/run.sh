#!/usr/bin/env bash
# Builds the release packages and uses them as a user would: checks the .deb with lintian, installs
# it on this machine with the commands the user guide gives, runs the installed program on a sample
# and removes it again as the guide says; and runs the .exe of the Windows zip under Wine on a
# sample. Needs root (apt-get install), the Linux build's requirements, dpkg-dev and lintian, and
# for the zip the mingw-w64 cross compiler, wine, unzip and cmark-gfm.
#
#   tests/packages/run.sh
#
# Exits 1 when a check failed; the Windows part is skipped (and said so) when the cross compiler or
# Wine is missing. Environment (all optional):
#   QOVIRA_PACKAGE_BUILD_DIR      Linux build directory (default: build-package)
#   QOVIRA_WIN_PACKAGE_BUILD_DIR  Windows build directory (default: build-package-win)
#   QOVIRA_PACKAGES_OUT           where the packages are left (default: <Linux build>/packages)
#   QOVIRA_KEEP_INSTALLED=1       leave the .deb installed afterwards
set -uo pipefail

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD=${QOVIRA_PACKAGE_BUILD_DIR:-$REPO/build-package}
WIN_BUILD=${QOVIRA_WIN_PACKAGE_BUILD_DIR:-$REPO/build-package-win}
OUT=${QOVIRA_PACKAGES_OUT:-$BUILD/packages}
VERSION=$(sed -nE 's/^project\(QoviraTableTool VERSION ([0-9.]+).*/\1/p' "$REPO/CMakeLists.txt")
SAMPLE=$REPO/samples/broken-wubi.dict.yaml
GUIDE=$REPO/docs/使用说明.md

passed=0
failed=0
pass() {
  passed=$((passed + 1))
  echo "PASS  $1"
}
fail() {
  failed=$((failed + 1))
  echo "FAIL  $1"
  shift
  [[ $# -gt 0 ]] && printf '      %s\n' "$@"
}
expect() {
  if [[ "$2" == "$3" ]]; then
    pass "$1"
  else
    fail "$1" "expected: $2" "actual:   $3"
  fi
}
finish() {
  echo "$passed passed, $failed failed (packages in $OUT)"
  ((failed == 0))
  exit
}

WORK=$(mktemp -d "${TMPDIR:-/tmp}/qovira-packages.XXXXXX")
installed_here=0
cleanup() {
  if ((installed_here)) && [[ ${QOVIRA_KEEP_INSTALLED:-0} != 1 ]]; then
    dpkg -P qoviratabletool > /dev/null 2>&1
  fi
  command -v wineserver > /dev/null && WINEPREFIX=$WORK/prefix wineserver -k 2> /dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT
rm -rf "$OUT"
mkdir -p "$OUT"

# ---------------------------------------------------------------------------------------------
# The .deb

echo "== Linux build and cpack -G DEB ($BUILD)"
cmake -S "$REPO" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQOVIRA_TESTS=OFF > /dev/null ||
  exit 1
cmake --build "$BUILD" -j2 || exit 1
(cd "$BUILD" && cpack -G DEB -B "$OUT" > "$WORK/cpack-deb.log" 2>&1) || {
  cat "$WORK/cpack-deb.log"
  exit 1
}
DEB=$OUT/qoviratabletool_${VERSION}_amd64.deb
if [[ -f $DEB ]]; then
  pass "package named $(basename "$DEB")"
else
  fail "package named qoviratabletool_${VERSION}_amd64.deb" "found: $(ls "$OUT")"
  finish
fi

contents=$(dpkg-deb -c "$DEB" | awk '{print $6 ($7 ? " " $7 " " $8 : "")}')
for path in ./usr/libexec/qoviratabletool/QoviraTableTool \
  ./usr/libexec/qoviratabletool/qovira-qt-window.so \
  ./usr/share/applications/qoviratabletool.desktop \
  ./usr/share/icons/hicolor/256x256/apps/qoviratabletool.png \
  ./usr/share/icons/hicolor/16x16/apps/qoviratabletool.png \
  "./usr/share/doc/qoviratabletool/使用说明.md" ./usr/share/doc/qoviratabletool/images/window.png \
  ./usr/share/doc/qoviratabletool/copyright ./usr/share/doc/qoviratabletool/changelog.gz \
  ./usr/share/man/man1/QoviraTableTool.1.gz; do
  expect "package holds $path" "1" "$(grep -cxF "$path" <<< "$contents")"
done
expect "/usr/bin/QoviraTableTool links to the program" \
  "./usr/bin/QoviraTableTool -> ../libexec/qoviratabletool/QoviraTableTool" \
  "$(grep '^./usr/bin/QoviraTableTool' <<< "$contents")"
depends=$(dpkg-deb -f "$DEB" Depends)
for library in libqt6widgets6 libqt6gui6 libqt6core6 libstdc++6 libc6; do
  expect "Depends names $library" "1" "$(tr ',' '\n' <<< "$depends" | grep -c "^ *$library ")"
done
expect "Recommends a CJK font and Qt's translations" \
  "fonts-wqy-microhei | fonts-noto-cjk, qt6-translations-l10n" "$(dpkg-deb -f "$DEB" Recommends)"
expect "the changelog's latest entry is this version" "$VERSION" \
  "$(dpkg-parsechangelog -l "$REPO/packaging/changelog" -S Version)"

# Errors and warnings at lintian's default level fail; its notes (I:) are shown only.
if command -v lintian > /dev/null; then
  lintian --fail-on error,warning "$DEB" > "$WORK/lintian.txt" 2>&1
  code=$?
  grep -v '^running with root privileges' "$WORK/lintian.txt" | sed 's/^/      /'
  expect "lintian: no error, no warning" "0" "$code"
else
  fail "lintian: not installed (Debian package lintian)"
fi

# Installed and removed by the commands of the guide's ```sh blocks, in order (sudo left out: this
# runs as root; apt answers its question itself); the removal waits for the end.
guide_commands=$(awk '/^```sh$/ {inside = 1; next} /^```/ {inside = 0} inside' "$GUIDE" |
  sed 's/^sudo //')
grep -vE '^apt-get (remove|purge) ' <<< "$guide_commands" > "$WORK/guide-install.sh"
grep -E '^apt-get (remove|purge) ' <<< "$guide_commands" > "$WORK/guide-remove.sh"
echo 'APT::Get::Assume-Yes "true";' > "$WORK/apt.conf"
run_guide_commands() {
  (cd "$OUT" && HOME=$WORK/home APT_CONFIG=$WORK/apt.conf DEBIAN_FRONTEND=noninteractive \
    MANPAGER=cat bash -e "$1" < /dev/null)
}
echo "== the guide's commands, in $OUT:"
sed 's/^/      /' "$WORK/guide-install.sh"
dpkg -P qoviratabletool > /dev/null 2>&1  # an earlier version, installed or not
mkdir -p "$WORK/home"
if run_guide_commands "$WORK/guide-install.sh" > "$WORK/guide-install.log" 2>&1; then
  pass "the guide's installation commands"
else
  fail "the guide's installation commands" "$(tail -5 "$WORK/guide-install.log")"
fi
package_installed() {
  [[ $(dpkg-query -W -f='${db:Status-Status}' qoviratabletool 2> /dev/null) == installed ]]
}
if package_installed; then
  installed_here=1
else
  fail "the package is installed"
  finish
fi
expect "installed program on the PATH" "/usr/bin/QoviraTableTool" "$(command -v QoviraTableTool)"
expect "installed --version" "QoviraTableTool $VERSION" "$(QoviraTableTool --version)"
expect "installed manual page" "/usr/share/man/man1/QoviraTableTool.1.gz" "$(man -w QoviraTableTool)"
expect "the guide's copy of the samples" "broken-bingling.txt broken-wubi.dict.yaml" \
  "$(LC_ALL=C ls "$WORK/home/码表样例" | tr '\n' ' ' | sed 's/ $//')"

cp "$SAMPLE" "$WORK/"
mkdir "$WORK/out"
(cd "$WORK" && QoviraTableTool --check broken-wubi.dict.yaml > check.txt)
code=$?
expect "installed --check exit code" "0" "$code"
expect "installed --check verdict" "1" "$(grep -c '^broken-wubi.dict.yaml .*可导入$' "$WORK/check.txt")"
(cd "$WORK" && QoviraTableTool --rescue broken-wubi.dict.yaml --out out > rescue.txt)
code=$?
expect "installed --rescue exit code" "0" "$code"
expect "installed --rescue outputs" "broken-wubi-修复报告.txt broken-wubi.mb broken-wubi.repaired.yaml" \
  "$(LC_ALL=C ls "$WORK/out" | tr '\n' ' ' | sed 's/ $//')"
expect "installed .mb starts with its magic" "Freeime Dictionary" "$(head -c 18 "$WORK/out/broken-wubi.mb")"
# The window module is found beside the resolved program: without a display the window cannot
# open, and the program says so (rather than saying it has no window).
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM QoviraTableTool > /dev/null 2> "$WORK/window.txt"
code=$?
expect "installed program loads its window module" "1 1" \
  "$code $(grep -c '打不开窗口' "$WORK/window.txt")"

if [[ ${QOVIRA_KEEP_INSTALLED:-0} == 1 ]]; then
  echo "SKIP  the guide's removal: QOVIRA_KEEP_INSTALLED=1"
elif [[ -s $WORK/guide-remove.sh ]] &&
  run_guide_commands "$WORK/guide-remove.sh" > "$WORK/guide-remove.log" 2>&1 &&
  ! package_installed && [[ ! -e /usr/bin/QoviraTableTool ]]; then
  installed_here=0
  pass "the guide's removal command: $(cat "$WORK/guide-remove.sh")"
else
  fail "the guide's removal command: $(cat "$WORK/guide-remove.sh")" \
    "$(tail -5 "$WORK/guide-remove.log" 2>/dev/null)"
fi

# ---------------------------------------------------------------------------------------------
# The Windows zip

for tool in x86_64-w64-mingw32-g++-posix wine wineboot wineserver winepath unzip; do
  if ! command -v "$tool" > /dev/null; then
    echo "SKIP  the Windows zip: $tool is not installed"
    finish
  fi
done

echo "== Windows build and cpack -G ZIP ($WIN_BUILD)"
cmake -S "$REPO" -B "$WIN_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$REPO/cmake/mingw-w64-x86_64.cmake" > /dev/null || exit 1
cmake --build "$WIN_BUILD" -j2 --target QoviraTableTool || exit 1
(cd "$WIN_BUILD" && cpack -G ZIP -B "$OUT" > "$WORK/cpack-zip.log" 2>&1) || {
  cat "$WORK/cpack-zip.log"
  exit 1
}
ZIP=$OUT/QoviraTableTool-${VERSION}-windows-x64.zip
if [[ -f $ZIP ]]; then
  pass "zip named $(basename "$ZIP")"
else
  fail "zip named QoviraTableTool-${VERSION}-windows-x64.zip" "found: $(ls "$OUT")"
  finish
fi
unzip -q "$ZIP" -d "$WORK/zip"
TOP=$WORK/zip/QoviraTableTool-${VERSION}-windows-x64
for file in QoviraTableTool.exe 使用说明.html images/window.png LICENSE.txt 更新日志.txt \
  samples/broken-wubi.dict.yaml samples/broken-bingling.txt; do
  if [[ -f $TOP/$file ]]; then
    pass "zip holds $file"
  else
    fail "zip holds $file" "contents: $(cd "$WORK/zip" && find . -type f | tr '\n' ' ')"
  fi
done

expect "the guide page is a whole UTF-8 page" "2" \
  "$(grep -c '^<meta charset="utf-8">$\|^</html>$' "$TOP/使用说明.html")"
for image in $(grep -o '<img src="[^"]*"' "$TOP/使用说明.html" | sed 's/^<img src="//; s/"$//'); do
  if [[ -f $TOP/$image ]]; then
    pass "the guide page's picture $image is in the zip"
  else
    fail "the guide page's picture $image is in the zip"
  fi
done

echo "== the zipped .exe under Wine"
export LANG=C.UTF-8 LC_ALL=C.UTF-8 HOME=$WORK/home WINEPREFIX=$WORK/prefix WINEARCH=win64
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
mkdir -p "$HOME" "$TOP/out"
timeout 180 wineboot -i > "$WORK/wineboot.log" 2>&1
wineserver -p < /dev/null > /dev/null 2>&1
(cd "$TOP" && timeout 120 wine QoviraTableTool.exe --check samples/broken-wubi.dict.yaml > "$WORK/win-check.txt")
code=$?
expect "zipped .exe --check exit code" "0" "$code"
expect "zipped .exe --version" "QoviraTableTool $VERSION" \
  "$(cd "$TOP" && timeout 120 wine QoviraTableTool.exe --version | tr -d '\r')"
expect "zipped .exe --check verdict" "1" "$(tr -d '\r' < "$WORK/win-check.txt" | grep -c '^broken-wubi.dict.yaml .*可导入$')"
(cd "$TOP" && timeout 120 wine QoviraTableTool.exe --rescue samples/broken-wubi.dict.yaml --out out > /dev/null)
code=$?
expect "zipped .exe --rescue exit code" "0" "$code"
if cmp -s "$TOP/out/broken-wubi.mb" "$WORK/out/broken-wubi.mb" &&
  cmp -s "$TOP/out/broken-wubi.repaired.yaml" "$WORK/out/broken-wubi.repaired.yaml"; then
  pass "zipped .exe --rescue writes the files of the installed Linux program"
else
  fail "zipped .exe --rescue writes the files of the installed Linux program" \
    "$(ls -l "$TOP/out" "$WORK/out")"
fi

finish
