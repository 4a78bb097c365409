#!/usr/bin/env bash
# Cross-builds QoviraTableTool.exe with mingw-w64 and tests it under Wine on a headless X server:
# the batch mode against the Linux build on the same inputs, and the window driven from outside
# through the Win32 API (tests/wine/window_driver.cpp).
#
#   tests/wine/run.sh
#
# Needs: g++-mingw-w64-x86-64-posix wine wine64 xvfb xdotool x11-utils imagemagick
# fonts-wqy-microhei fonts-wine, cmake, ninja and the Linux build's requirements. Exits 77 when a
# tool is missing, 1 when a test failed. Environment (all optional):
#   QOVIRA_WIN_BUILD_DIR   cross build directory (default: build-win)
#   QOVIRA_LINUX_TOOL      the Linux QoviraTableTool to compare with (default: built in
#                          QOVIRA_HOST_BUILD_DIR, default build-wincmd)
#   QOVIRA_WINE_ARTIFACTS  where screenshots and logs are kept (default: <cross build>/wine-test)
#   QOVIRA_GUIDE_IMAGES    when set, the window pictures of the user guide are written into this
#                          folder (docs/images to renew the guide's)
set -uo pipefail

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
WIN_BUILD=${QOVIRA_WIN_BUILD_DIR:-$REPO/build-win}
HOST_BUILD=${QOVIRA_HOST_BUILD_DIR:-$REPO/build-wincmd}
ARTIFACTS=${QOVIRA_WINE_ARTIFACTS:-$WIN_BUILD/wine-test}

for tool in x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-objdump x86_64-w64-mingw32-windres xprop wine wineboot wineserver \
  winepath Xvfb xdotool import convert identify cmake ninja; do
  if ! command -v "$tool" > /dev/null; then
    echo "skipped: $tool is not installed"
    exit 77
  fi
done

# ---------------------------------------------------------------------------------------------
# Build

echo "== cross build ($WIN_BUILD)"
cmake -S "$REPO" -B "$WIN_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQOVIRA_WERROR=ON \
  -DCMAKE_TOOLCHAIN_FILE="$REPO/cmake/mingw-w64-x86_64.cmake" > /dev/null || exit 1
ninja -C "$WIN_BUILD" -j2 QoviraTableTool qovira_window_driver || exit 1
EXE=$WIN_BUILD/src/QoviraTableTool.exe
DRIVER_EXE=$WIN_BUILD/src/qovira_window_driver.exe

if [[ -n ${QOVIRA_LINUX_TOOL:-} ]]; then
  LINUX_TOOL=$QOVIRA_LINUX_TOOL
else
  echo "== Linux build ($HOST_BUILD)"
  cmake -S "$REPO" -B "$HOST_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release > /dev/null || exit 1
  ninja -C "$HOST_BUILD" -j2 QoviraTableTool || exit 1
  LINUX_TOOL=$HOST_BUILD/src/QoviraTableTool
fi

# ---------------------------------------------------------------------------------------------
# Bookkeeping

passed=0
failed=0
skipped=0
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
# expect NAME EXPECTED ACTUAL
expect() {
  if [[ "$2" == "$3" ]]; then
    pass "$1"
  else
    fail "$1" "expected: $2" "actual:   $3"
  fi
}
# expect_files NAME FILE_A FILE_B: byte-identical
expect_files() {
  if cmp -s "$2" "$3"; then
    pass "$1"
  else
    fail "$1" "$2 and $3 differ"
  fi
}

# ---------------------------------------------------------------------------------------------
# Wine prefix and X server, thrown away at the end

rm -rf "$ARTIFACTS"
mkdir -p "$ARTIFACTS"
WORK=$(mktemp -d "${TMPDIR:-/tmp}/qovira-wine.XXXXXX")
XVFB_PID=
APP_PID=
cleanup() {
  [[ -n $APP_PID ]] && kill "$APP_PID" 2> /dev/null
  wineserver -k 2> /dev/null
  [[ -n $XVFB_PID ]] && kill "$XVFB_PID" 2> /dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT

export LANG=C.UTF-8 LC_ALL=C.UTF-8 # Wine converts arguments with the Unix locale
export HOME=$WORK/home             # the prefix links Documents and Desktop into HOME
export WINEPREFIX=$WORK/prefix WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
mkdir -p "$HOME"

exec 3> "$WORK/display"
# Large enough for the window at 150 %.
Xvfb -displayfd 3 -screen 0 1920x1200x24 -nolisten tcp > "$ARTIFACTS/xvfb.log" 2>&1 &
XVFB_PID=$!
exec 3>&-
for _ in $(seq 100); do
  [[ -s $WORK/display ]] && break
  sleep 0.1
done
export DISPLAY=":$(cat "$WORK/display")"

echo "== Wine prefix"
timeout 180 wineboot -i > "$ARTIFACTS/wineboot.log" 2>&1
# Keep one server up so that wine calls inside $(...) do not wait for it to exit.
wineserver -p < /dev/null > /dev/null 2>&1
timeout 60 wine wineboot -u < /dev/null > /dev/null 2>&1

# Windows fonts the program asks for, mapped to the CJK font of the machine; no crash dialogs.
cat > "$WORK/test.reg" << 'EOF'
REGEDIT4

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]
"Microsoft YaHei UI"="WenQuanYi Micro Hei"
"Consolas"="WenQuanYi Micro Hei Mono"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\AeDebug]
"Debugger"=-
EOF
timeout 60 wine regedit /S "$(winepath -w "$WORK/test.reg")"
for face in Tahoma "Microsoft Sans Serif" "MS Shell Dlg" "MS Shell Dlg 2"; do
  timeout 60 wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
    /v "$face" /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f > /dev/null
done
if [[ -f /usr/share/wine/fonts/marlett.ttf ]]; then
  cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
fi

win() { timeout 120 wine "$EXE" "$@"; }
driver() {
  timeout 120 wine "$DRIVER_EXE" "$@"
  local code=$?
  ((code == 0)) || echo "window_driver exited with $code: $*" >&2
  return "$code"
}
winpath() { winepath -w "$1"; }
# The text of a control, and a message box as "caption|text", with LF line ends. Every wait has a
# minute: a loaded machine slows the test down instead of failing it.
text() { driver gettext "$1" | tr -d '\r'; }
message_box() { driver msgbox 60000 | tr -d '\r' | paste -sd '|'; }
# The status line once it holds TEXT and the command that set it has ended.
status_after() { driver waittext 1011 "$1" 60000 idle 60000 | tr -d '\r'; }

# ---------------------------------------------------------------------------------------------
# Test tables

DATA=$WORK/data
mkdir -p "$DATA"
printf -- '---\nname: 测试\nversion: "1.0"\nsort: original\n...\n工\tAAAA\n了 b\n你好\twqvb\n在\td\n' \
  > "$DATA/测试码表.dict.yaml"
printf '[CODETABLEHEADER]\nName=冰凌测试\nCodeLength=4\n[CODETABLE]\naaaa\t工\nwqvb\t你好\nb\t了\n' \
  > "$DATA/冰凌码表.txt"
printf '这不是码表\n' > "$DATA/坏表.txt"
# A table of three million lines (31 MB) for the long work, every seventh code in capitals and
# every eleventh line cut by a space; the repair mends them. Random texts from a fixed seed.
make_large_table() {
  LC_ALL=C awk -v rows=3000000 'function han(cp) {
      return sprintf("%c%c%c", 224 + int(cp / 4096), 128 + int(cp / 64) % 64, 128 + cp % 64) }
    BEGIN {
      srand(7)
      print "---"; print "name: 大码表"; print "version: \"1.0\""; print "sort: original"; print "..."
      for (i = 0; i < rows; i++) {
        text = ""
        for (k = 1 + int(rand() * 3); k > 0; k--) text = text han(19968 + int(rand() * 20000))
        code = ""
        for (k = 1 + int(rand() * 4); k > 0; k--) code = code sprintf("%c", 97 + int(rand() * 25))
        if (i % 7 == 3) code = toupper(code)
        print text (i % 11 == 5 ? " " : "\t") code
      }
    }' > "$1"
}
"$LINUX_TOOL" --export-mb "$DATA/冰凌码表.txt" --out "$WORK" > /dev/null
cp "$WORK/冰凌码表.mb" "$DATA/二进制码表.mb"

# A real table from Debian, when it can be fetched.
if (cd "$WORK" && timeout 120 apt-get download rime-data-wubi > /dev/null 2>&1); then
  dpkg-deb -x "$WORK"/rime-data-wubi_*.deb "$WORK/rime"
  found=$(find "$WORK/rime" -name 'wubi86.dict.yaml' | head -1)
  [[ -n $found ]] && cp "$found" "$DATA/"
fi
if [[ -f $DATA/wubi86.dict.yaml ]]; then
  echo "(batch comparisons include wubi86.dict.yaml of rime-data-wubi)"
fi

# ---------------------------------------------------------------------------------------------
# The .exe itself

echo "== executable"
headers=$(x86_64-w64-mingw32-objdump -p "$EXE")
expect "windowed subsystem" "1" "$(grep -c 'Subsystem.*(Windows GUI)' <<< "$headers")"
foreign_dlls=$(grep 'DLL Name:' <<< "$headers" | awk '{print tolower($3)}' |
  grep -vxE 'kernel32\.dll|user32\.dll|gdi32\.dll|shell32\.dll|comctl32\.dll|comdlg32\.dll|msvcrt\.dll|advapi32\.dll|bcrypt\.dll' |
  tr '\n' ' ')
expect "only system DLLs imported" "" "$foreign_dlls"

# The resources, read back from the .exe (windres decompiles them; UTF-16 text as \x escapes).
resources=$(x86_64-w64-mingw32-windres -i "$EXE" -O rc 2> /dev/null | grep -v '^  0x')
utf8() { printf '%b' "$(sed -E 's/\\x([0-9a-f]{4})/\\u\1/g' <<< "$1")"; }
version_value() {
  local raw
  raw=$(sed -nE "s/^ *VALUE \"$1\", L?\"(.*)\"$/\1/p" <<< "$resources")
  utf8 "$raw"
}
manifest=$(sed -n '/RT_MANIFEST/,/^END/p' <<< "$resources" | sed -E 's/^ *"//; s/\\n"$//; s/""/"/g')
VERSION=$(sed -nE 's/^project\(QoviraTableTool VERSION ([0-9.]+).*/\1/p' "$REPO/CMakeLists.txt")
for wanted in 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' \
  '>PerMonitorV2, PerMonitor</dpiAwareness>' '>true/pm</dpiAware>' '>true</longPathAware>' \
  '{35138b9a-5d96-4fbd-8e2d-a2440225f93a}' '{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}' \
  '{1f676c76-80e1-4239-95bb-83d0f6d0da78}' '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}'; do
  expect "manifest holds $wanted" "1" "$(grep -cF "$wanted" <<< "$manifest")"
done
expect "manifest of the process (resource 1)" "1" "$(grep -c '^1 24 /\* RT_MANIFEST \*/' <<< "$resources")"
expect "file version" "FILEVERSION${VERSION//./,},0" \
  "$(grep -oE '^ *FILEVERSION [0-9, ]+' <<< "$resources" | tr -d ' ')"
expect "version strings" "$VERSION|$VERSION|QoviraTableTool|QoviraTableTool.exe" \
  "$(version_value FileVersion)|$(version_value ProductVersion)|$(version_value ProductName)|$(version_value OriginalFilename)"
expect "file description is the window title" "岚栖输入法编码导入器 —— 诊断 / 修复 / 转 .mb" \
  "$(version_value FileDescription)"
expect "icon at 16, 32, 48 and 256 pixels" "4" "$(grep -c 'RT_ICON \*/' <<< "$resources")"

# ---------------------------------------------------------------------------------------------
# Batch mode: the same output and the same files as the Linux build

echo "== batch mode"
win --help > "$WORK/usage-win.txt"
code=$?
"$LINUX_TOOL" --help > "$WORK/usage-linux.txt"
expect "usage exit code" "2" "$code"
expect_files "usage text" "$WORK/usage-linux.txt" "$WORK/usage-win.txt"

# Both run in copies of the data with relative names; only the path separator may differ, in the
# output and in the line of a saved repair report that names the repaired file.
same_separators() {
  local report
  for report in "$1"/out/*-修复报告.txt; do
    if [[ -f $report ]]; then sed -i '/^修复后另存为：/ s#\\#/#g' "$report"; fi
  done
}
mapfile -t tables < <(cd "$DATA" && ls)
for mode in check report fix export-mb rescue; do
  for side in linux win; do
    rm -rf "$WORK/$side"
    cp -r "$DATA" "$WORK/$side"
    mkdir "$WORK/$side/out"
  done
  (cd "$WORK/linux" && "$LINUX_TOOL" "--$mode" "${tables[@]}" --out out > ../linux.txt)
  linux_code=$?
  (cd "$WORK/win" && win "--$mode" "${tables[@]}" --out out > ../win.txt)
  win_code=$?
  same_separators "$WORK/win"
  expect "--$mode exit code" "$linux_code" "$win_code"
  expect "--$mode output" "$(cat "$WORK/linux.txt")" "$(tr '\\' '/' < "$WORK/win.txt")"
  if diff -r "$WORK/linux" "$WORK/win" > "$WORK/diff.txt"; then
    pass "--$mode files"
  else
    fail "--$mode files" "$(head -5 "$WORK/diff.txt")"
  fi
done
# Run again over its own outputs: the new files replace the old ones (temporary file, renamed over).
(cd "$WORK/win" && win --rescue "${tables[@]}" --out out > ../win-again.txt)
same_separators "$WORK/win"
expect "--rescue over existing outputs" "$(cat "$WORK/win.txt")" "$(cat "$WORK/win-again.txt")"
if diff -r "$WORK/linux" "$WORK/win" > /dev/null && [[ -z $(find "$WORK/win" -name '*.tmp-*') ]]; then
  pass "--rescue over existing outputs: files replaced, no temporary files"
else
  fail "--rescue over existing outputs: files replaced, no temporary files"
fi
if [[ ! -f $DATA/wubi86.dict.yaml ]]; then
  skipped=$((skipped + 1))
  echo "SKIP  rime-data-wubi could not be fetched; compared on the small tables only"
fi

# On a terminal Wine gives the program a console, and the text goes through the console API.
if command -v script > /dev/null; then
  script -qec "timeout 60 wine '$EXE' --help" /dev/null > "$WORK/console.txt"
  expect "usage on a console" "$(cat "$WORK/usage-linux.txt")" \
    "$(tr -d '\r' < "$WORK/console.txt" | sed 's/\x1b\[?25[lh]//g')"
fi

# Absolute Windows paths with Chinese names, written to the current directory's tables.
(cd "$WORK" && win --check "$(winpath "$DATA/测试码表.dict.yaml")" > "$WORK/absolute.txt")
expect "absolute Chinese path" "1" "$(grep -c '^测试码表.dict.yaml ' "$WORK/absolute.txt")"

# ---------------------------------------------------------------------------------------------
# The window

echo "== window"
GUI=$WORK/gui
mkdir -p "$GUI"
cp "$DATA"/测试码表.dict.yaml "$DATA"/冰凌码表.txt "$DATA"/坏表.txt "$GUI/"
SOURCE=$GUI/测试码表.dict.yaml

# Without a file: the first texts, and the commands that need a table say so.
wine "$EXE" > "$ARTIFACTS/window-empty.log" 2>&1 &
APP_PID=$!
if driver wait 60000 > /dev/null; then
  pass "window appears without a file"
  expect "first status text" \
    "打开或把文件拖进来：支持 Rime .dict.yaml、冰凌文本码表、极点 .mb　｜　命令行批量：--help" "$(text 1011)"
  expect "empty report area" "" "$(text 1010)"
  driver press 1004
  expect "save report before a load" "岚栖输入法编码导入器|还没有可保存的报告。" "$(message_box)"
  driver press 1005
  expect "rescue before a load: information icon" "information" "$(driver msgboxicon 60000 | tr -d '\r')"
  expect "rescue before a load" "岚栖输入法编码导入器|先打开一份码表。" "$(message_box)"
  # The About box, from the window's system menu.
  driver syscommand 16
  expect "About box shows the version" "1" "$(message_box | grep -c "|QoviraTableTool 版本 $VERSION|")"
  driver close
else
  fail "window appears without a file"
  kill "$APP_PID"
fi
wait "$APP_PID"
APP_PID=

wine "$EXE" "$(winpath "$SOURCE")" > "$ARTIFACTS/window.log" 2>&1 &
APP_PID=$!
if ! driver wait 60000 > /dev/null || ! status_after '测试码表.dict.yaml · ' > /dev/null; then
  fail "window appears and loads the table named on the command line"
  echo "$passed passed, $failed failed, $skipped skipped"
  exit 1
fi
pass "window appears and loads the table named on the command line"

expect "title" "岚栖输入法编码导入器 —— 诊断 / 修复 / 转 .mb" "$(driver title | tr -d '\r')"
expect "controls in creation order" "$(printf '%s\t%s\n' 1001 Button 1002 Button 1003 Button \
  1005 Button 1004 Button 1007 Button 1010 Edit 1011 Static 1012 msctls_progress32 1006 Button)" \
  "$(driver list | tr -d '\r')"
expect "button texts, with the letters Alt presses" \
  "打开码表(&O)…|自动修复并另存(&F)|导出 .mb(&E)|一键救急（修复→.mb）(&R)|保存报告(&S)|转成文本码表(&T)…|取消" \
  "$(text 1001)|$(text 1002)|$(text 1003)|$(text 1005)|$(text 1004)|$(text 1007)|$(text 1006)"
expect "accepts dropped files" "10" "$(printf '%x' $((0x$(driver exstyle | tr -d '\r') & 0x10)))"
# Wine hands the window's icons to the X window.
expect "window shows the program's icon" "1" \
  "$(xprop -id "$(xdotool search --name '岚栖输入法编码导入器' | head -1)" _NET_WM_ICON |
    grep -cm1 '^[[:space:]]*Icon (')"

# The report of the table named on the command line is the batch report of the same path.
win --report "$(winpath "$SOURCE")" > "$WORK/report.txt"
# (--report adds an empty line and the tally after the report)
expect "report of the table on the command line" "$(head -n -2 "$WORK/report.txt")" "$(text 1010)"
check_line=$("$LINUX_TOOL" --check "$SOURCE" | head -1)
read -r entries fatal warnings infos < <(sed -E 's/.*词条 +([0-9]+) +致命([0-9]+) 警告([0-9]+) 提示([0-9]+).*/\1 \2 \3 \4/' <<< "$check_line")
verdict=$([[ $check_line == *可导入 ]] && echo 可以导入 || echo 导入不进去)
expect "status line" \
  "测试码表.dict.yaml · Rime 词典（.dict.yaml） · 词条 $entries · 致命 $fatal 警告 $warnings 提示 $infos · $verdict" \
  "$(text 1011)"

# A screenshot with the report in it: far more than the few colours of an empty window.
geometry=$(xdotool search --name '岚栖输入法编码导入器' getwindowgeometry --shell 2> /dev/null | head -5)
eval "$(grep -E '^(X|Y|WIDTH|HEIGHT)=' <<< "$geometry")"
import -window root "$ARTIFACTS/window.png"
convert "$ARTIFACTS/window.png" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$ARTIFACTS/client.png"
convert "$ARTIFACTS/client.png" -crop 900x300+20+60 +repage "$ARTIFACTS/report-area.png"
window_colours=$(identify -format '%k' "$ARTIFACTS/client.png")
report_colours=$(identify -format '%k' "$ARTIFACTS/report-area.png")
if ((window_colours > 16 && report_colours > 4)); then
  pass "screenshot shows the window with text ($window_colours colours, report $report_colours)"
else
  fail "screenshot shows the window with text" "colours: window $window_colours, report $report_colours"
fi

# Layout: from the client size, and its minimum in a tiny window (as tiny as the system allows).
read -r width height < <(driver client | tr -d '\r')
expect "report area layout" "12 52 $((width - 24)) $((height - 90))" "$(driver rect 1010 | tr -d '\r')"
expect "status bar layout" "12 $((height - 26)) $((width - 24)) 22" "$(driver rect 1011 | tr -d '\r')"
driver resize 100 140
read -r small_width small_height < <(driver client | tr -d '\r')
small_width=$((small_width - 24 < 80 ? 80 : small_width - 24))
expect "report area at least 80 high" "12 52 $small_width 80" "$(driver rect 1010 | tr -d '\r')"
expect "status bar in a tiny window" "12 $((small_height - 26)) $small_width 22" \
  "$(driver rect 1011 | tr -d '\r')"
driver resize 1000 720

# Export .mb: the same bytes as the Linux build's --export-mb.
"$LINUX_TOOL" --export-mb "$SOURCE" --out "$WORK" > /dev/null
driver press 1003 filedialog "$(winpath "$GUI/界面导出.mb")" 60000
expect "export status" "已导出 $entries 条 → 界面导出.mb" "$(status_after 已导出)"
expect_files "export writes the .mb of the Linux build" "$WORK/测试码表.mb" "$GUI/界面导出.mb"
expect "export summary names the output" "1" "$(text 1010 | grep -c '界面导出.mb')"

# Convert to a 冰凌 table (the question's second answer): the Linux build's --to-bingling text.
"$LINUX_TOOL" --to-bingling "$SOURCE" --out "$WORK" > /dev/null
driver press 1007 answer 101 60000 filedialog "$(winpath "$GUI/界面转换.txt")" 60000
expect "conversion status" "1" "$(status_after '→ 界面转换.txt' | grep -c '^已转换 ')"
expect_files "conversion writes the text of the Linux build" "$WORK/测试码表.txt" "$GUI/界面转换.txt"
expect "conversion report shows its read-back" "1" "$(text 1010 | grep -c '（已回读校验：')"

# Save report: byte-order mark, then the report area's text with CR LF.
driver press 1004 filedialog "$(winpath "$GUI/报告.txt")" 60000
status_after "报告已保存到" > /dev/null
{
  printf '\xEF\xBB\xBF'
  driver gettext 1010
} > "$WORK/expected-report.txt"
expect_files "saved report" "$WORK/expected-report.txt" "$GUI/报告.txt"

# Repair and save: the Linux build's --fix output; the window switches to the repaired file.
"$LINUX_TOOL" --fix "$SOURCE" --out "$WORK" > /dev/null
driver press 1002 filedialog "$(winpath "$GUI/界面修复.yaml")" 60000
expect "repair status ends with the switch" "1" \
  "$(status_after '界面修复.yaml（当前已切换到修复后的文件）' | grep -c '^已修复 [0-9]* 处 → ')"
expect_files "repair writes the --fix text" "$WORK/测试码表.repaired.yaml" "$GUI/界面修复.yaml"

# Load through the open dialog; a cancelled dialog changes nothing.
driver press 1001 filedialog "$(winpath "$GUI/冰凌码表.txt")" 60000
expect "open dialog loads" "1" "$(status_after '冰凌码表.txt · 冰凌文本码表 · ' | wc -l)"
driver press 1001 canceldialog 60000
expect "cancelled open dialog" "1" "$(text 1011 | grep -c '^冰凌码表.txt · ')"

# The source is never overwritten, even when the user confirms the overwrite question.
cp "$GUI/冰凌码表.txt" "$WORK/bingling-before.txt"
driver press 1002 filedialog "$(winpath "$GUI/冰凌码表.txt")" 60000
driver msgbox 60000 > /dev/null # the dialog's overwrite question: yes
expect "a failure shows the error icon" "error" "$(driver msgboxicon 60000 | tr -d '\r')"
expect "saving over the source is refused" \
  "岚栖输入法编码导入器|不能存到原文件上：原文件在任何情况下都不会被改动。请换一个文件名另存。" "$(message_box)"
expect_files "source unchanged" "$WORK/bingling-before.txt" "$GUI/冰凌码表.txt"

# Dropping two files loads the first; a table that does not parse has nothing to export.
driver drop 2 "$(winpath "$GUI/坏表.txt")" "$(winpath "$SOURCE")"
expect "drop loads the first file" "1" "$(status_after '坏表.txt · ' | grep -c '导入不进去$')"
driver press 1003
expect "export without a parsed table" \
  "岚栖输入法编码导入器|这份码表连解析都没通过，没有可导出的内容。先看报告里的[致命]条目，或者先做一次自动修复。" \
  "$(message_box)"

# Rescue: repair, then export the repaired table, as --rescue does.
rm -rf "$WORK/rescue" && mkdir "$WORK/rescue"
"$LINUX_TOOL" --rescue "$SOURCE" --out "$WORK/rescue" > /dev/null
driver drop 1 "$(winpath "$SOURCE")"
status_after '测试码表.dict.yaml · ' > /dev/null
driver press 1005 filedialog "$(winpath "$GUI/救急.yaml")" 60000 filedialog "$(winpath "$GUI/救急.mb")" 60000
expect "rescue status" "1" "$(status_after '→ 救急.mb' | grep -c '^已导出 ')"
expect_files "rescue repaired text" "$WORK/rescue/测试码表.repaired.yaml" "$GUI/救急.yaml"
expect_files "rescue .mb" "$WORK/rescue/测试码表.mb" "$GUI/救急.mb"
expect_files "source of the window tests unchanged" "$DATA/测试码表.dict.yaml" "$SOURCE"
expect "rescue shows what the repair did, then the export" "自动修复结果|导出 .mb" \
  "$(text 1010 | grep -xE '自动修复结果|导出 \.mb' | paste -sd '|')"
expect "rescue saves the repair report beside the repaired table" "1" \
  "$(head -c 21 "$GUI/测试码表-修复报告.txt" | grep -c '^.自动修复结果$')"
import -window root "$ARTIFACTS/after-rescue.png"

# Long work: while a large table loads and while it is repaired the window answers within 200 ms,
# never a second without an answer, and its progress bar moves; 取消 ends the repair, writes no
# file and leaves the window as it was.
LARGE=$WORK/large
mkdir -p "$LARGE"
make_large_table "$LARGE/大码表.dict.yaml"
driver drop 1 "$(winpath "$LARGE/大码表.dict.yaml")" busy 60000
if watched=$(driver watch 1 120000 | tr -d '\r'); then
  pass "window answers while a large table loads ($watched)"
else
  fail "window answers while a large table loads" "$watched"
fi
status_after '大码表.dict.yaml · ' > /dev/null
status_before=$(text 1011)
report_before=$(text 1010 | md5sum)
driver press 1002 busy 60000
if watched=$(driver watch 2 120000 | tr -d '\r'); then
  pass "window answers during a large repair, its progress bar moving ($watched)"
else
  fail "window answers during a large repair, its progress bar moving" "$watched"
fi
expect "command buttons are off while it works" "0 0" \
  "$(driver enabled 1001 enabled 1005 | tr -d '\r' | paste -sd ' ')"
driver press 1006 idle 60000
expect "取消 writes no file" "大码表.dict.yaml" "$(ls "$LARGE")"
expect "取消 leaves the status line" "$status_before" "$(text 1011)"
expect "取消 leaves the report" "$report_before" "$(text 1010 | md5sum)"
expect "command buttons are back" "1 1" "$(driver enabled 1001 enabled 1005 | tr -d '\r' | paste -sd ' ')"

# Tab walks the controls in their order, the hidden cancel button left out.
for _ in 1 2 3 4 5 6 7 8; do
  [[ $(driver focus | tr -d '\r') == 1001 ]] && break
  driver tab > /dev/null
done
expect "Tab walks the controls in their order" "1002 1003 1005 1004 1007 1010 1001" \
  "$(for _ in 1 2 3 4 5 6 7; do driver tab; done | tr -d '\r' | paste -sd ' ')"

# Keys from the X server, as a person types them: Ctrl+O opens a table; Alt and a button's
# underlined letter press it (保存报告(S) opens its save dialog).
WID=$(xdotool search --name '岚栖输入法编码导入器' | head -1)
press_keys() {
  timeout 60 xdotool windowfocus --sync "$WID" && timeout 60 xdotool key "$1" &&
    driver canceldialog 60000
}
if press_keys ctrl+o; then pass "Ctrl+O opens a table"; else fail "Ctrl+O opens a table"; fi
if press_keys alt+s; then pass "Alt+S saves the report"; else fail "Alt+S saves the report"; fi

driver close
wait "$APP_PID"
code=$?
APP_PID=
expect "closing the window ends with 0" "0" "$code"

# ---------------------------------------------------------------------------------------------
# The picture of the guide: the broken sample, opened from a short path, at 100 %

echo "== guide screenshot"
GUIDE_DIR=$WINEPREFIX/drive_c/码表
mkdir -p "$GUIDE_DIR"
cp "$REPO/samples/broken-wubi.dict.yaml" "$LARGE/大码表.dict.yaml" "$GUIDE_DIR/"
# the client area, as the window's geometry on the X screen gives it
client_shot() {
  local geometry
  geometry=$(xdotool search --name '岚栖输入法编码导入器' getwindowgeometry --shell 2> /dev/null | head -5)
  eval "$(grep -E '^(X|Y|WIDTH|HEIGHT)=' <<< "$geometry")"
  import -window root "$WORK/screen.png"
  convert "$WORK/screen.png" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$1"
}
# The window during work (the large table's repair, then cancelled) and after the rescue of the
# broken sample, into guide-working$1.png and guide-rescue$1.png.
work_and_rescue_shots() {
  rm -f "$GUIDE_DIR"/broken-wubi.repaired.yaml "$GUIDE_DIR"/broken-wubi.mb
  driver drop 1 'C:\码表\大码表.dict.yaml' &&
    status_after '大码表.dict.yaml · ' > /dev/null &&
    driver press 1002 busy 60000 watch 2 120000 > /dev/null &&
    client_shot "$ARTIFACTS/guide-working$1.png" &&
    driver press 1006 idle 60000 drop 1 'C:\码表\broken-wubi.dict.yaml' &&
    status_after 'broken-wubi.dict.yaml · ' > /dev/null &&
    driver press 1005 filedialog 'C:\码表\broken-wubi.repaired.yaml' 60000 \
      filedialog 'C:\码表\broken-wubi.mb' 60000 &&
    status_after '→ broken-wubi.mb' > /dev/null &&
    client_shot "$ARTIFACTS/guide-rescue$1.png"
}
wine "$EXE" 'C:\码表\broken-wubi.dict.yaml' > "$ARTIFACTS/window-guide.log" 2>&1 &
APP_PID=$!
if driver wait 60000 > /dev/null && status_after 'broken-wubi.dict.yaml · ' > /dev/null; then
  client_shot "$ARTIFACTS/guide-window.png"
  pass "guide screenshot ($ARTIFACTS/guide-window.png)"
  if work_and_rescue_shots ""; then
    pass "guide screenshots during work and after a rescue"
  else
    fail "guide screenshots during work and after a rescue"
  fi
  driver close
else
  fail "guide screenshot"
  kill "$APP_PID"
fi
wait "$APP_PID"
APP_PID=

# ---------------------------------------------------------------------------------------------
# At 150 %: Wine's screen DPI of 144; every place, size and font 1.5 times the 100 % values

echo "== window at 144 DPI"
set_dpi() {
  timeout 60 wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f > /dev/null
}
set_dpi 144
wine "$EXE" "$(winpath "$SOURCE")" > "$ARTIFACTS/window-144dpi.log" 2>&1 &
APP_PID=$!
# (the window is visible before its controls exist: the status line says when it is complete)
if driver wait 60000 > /dev/null && status_after '测试码表.dict.yaml · ' > /dev/null; then
  expect "window of 1.5 times 1000 × 720" "1500 1080" "$(driver outer | tr -d '\r')"
  read -r width height < <(driver client | tr -d '\r')
  # The buttons where they are created, times 1.5; the report area, status bar, progress bar and
  # cancel button by the rule.
  expect "controls at 1.5 times their 96-DPI places" "$(printf '%s\n' '18 15 210 45' '240 15 255 45' \
    '507 15 165 45' '684 15 345 45' '1041 15 165 45' '1218 15 225 45' \
    "18 78 $((width - 36)) $((height - 135))" "18 $((height - 39)) $((width - 36)) 33" \
    "$((width - 450)) $((height - 39)) 300 33" "$((width - 138)) $((height - 42)) 120 39")" \
    "$(driver rects | tr -d '\r')"
  client_shot "$ARTIFACTS/window-144dpi.png"
  expect "screenshot at 144 DPI is the client area" "$width $height" \
    "$(identify -format '%w %h' "$ARTIFACTS/window-144dpi.png")"
  if work_and_rescue_shots -144dpi; then
    pass "screenshots at 144 DPI during work and after a rescue"
  else
    fail "screenshots at 144 DPI during work and after a rescue"
  fi
  driver resize 120 160
  expect "report area at least 120 × 120 at 144 DPI" "18 78 120 120" "$(driver rect 1010 | tr -d '\r')"
  driver close
else
  fail "window appears at 144 DPI"
  kill "$APP_PID"
fi
wait "$APP_PID"
APP_PID=
set_dpi 96

if [[ -n ${QOVIRA_GUIDE_IMAGES:-} ]]; then
  cp "$ARTIFACTS/guide-window.png" "$QOVIRA_GUIDE_IMAGES/window.png"
  for shot in working rescue working-144dpi rescue-144dpi; do
    cp "$ARTIFACTS/guide-$shot.png" "$QOVIRA_GUIDE_IMAGES/window-$shot.png"
  done
fi

echo "$passed passed, $failed failed, $skipped skipped (screenshots in $ARTIFACTS)"
((failed == 0))
