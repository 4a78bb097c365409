#!/usr/bin/env bash
# Starts the built program's window: with a file on the offscreen platform it must keep running
# (no crash while loading); without any display it must explain itself and end with exit code 1.
# Usage: window_start_test.sh PROGRAM SOURCE_DIR
set -uo pipefail

program=$(realpath "$1")
sample="$2/samples/broken-wubi.dict.yaml"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work" timeout 3 "$program" "$sample" \
  >"$work/out" 2>"$work/err"
code=$?
if [[ $code != 124 ]]; then
  echo "FAIL: the window with a loaded file ended with $code instead of staying open"
  cat "$work/err"
  failed=1
fi

env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$program" "$sample" >"$work/out" 2>"$work/err"
code=$?
if [[ $code != 1 ]] || ! grep -q '^Error: 打不开窗口：' "$work/err"; then
  echo "FAIL: without a display the program ended with $code and wrote:"
  cat "$work/err"
  failed=1
fi

exit $failed
