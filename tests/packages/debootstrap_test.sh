#!/usr/bin/env bash
# The .deb on a fresh minimal Debian 12: makes a root with debootstrap, installs the package there
# with apt (so its Recommends come in), checks that a CJK font came with it, and takes screenshots of
# the window started inside the root on an Xvfb display: once as installed, once after the CJK
# fonts are removed again. The two must differ, so the first shows Chinese glyphs where the second
# shows boxes. The screenshots are left in the artifacts folder.
#
#   tests/packages/debootstrap_test.sh DEB ARTIFACTS_DIR
#
# Needs root, debootstrap, Xvfb, xdotool, ImageMagick and the Debian mirror. Exits 77 (skipped) when
# any of them is missing or the mirror cannot be reached; waits for every step instead of assuming
# how long it takes. Environment: QOVIRA_DEBIAN_MIRROR (default http://deb.debian.org/debian).
set -uo pipefail

DEB=$(realpath "$1")
ARTIFACTS=$2
MIRROR=${QOVIRA_DEBIAN_MIRROR:-http://deb.debian.org/debian}
SUITE=bookworm
TITLE=岚栖输入法编码导入器
# Only guards against a hang: every wait below ends as soon as its condition holds.
HANG_LIMIT=900

skip() {
  echo "SKIP  the .deb in a fresh Debian 12 root: $1"
  exit 77
}
[[ $(id -u) == 0 ]] || skip "needs root (debootstrap, chroot, mount)"
for tool in debootstrap chroot mount findmnt Xvfb xdotool import compare identify convert; do
  command -v "$tool" > /dev/null || skip "$tool is not installed"
done
[[ -f $DEB ]] || {
  echo "FAIL  no package at $1"
  exit 1
}
# The mirror's release file, by plain HTTP: without it no root can be made.
mirror_host=$(sed -E 's|^https?://([^/:]+).*|\1|' <<< "$MIRROR")
mirror_path=$(sed -E 's|^https?://[^/]+||' <<< "$MIRROR")
if ! timeout 120 bash -c "exec 3<>/dev/tcp/$mirror_host/80 &&
  printf 'HEAD %s/dists/$SUITE/Release HTTP/1.1\r\nHost: %s\r\nConnection: close\r\n\r\n' '$mirror_path' '$mirror_host' >&3 &&
  head -1 <&3 | grep -q ' 200 '" 2> /dev/null; then
  skip "the mirror $MIRROR cannot be reached"
fi

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
finish() {
  echo "$passed passed, $failed failed (screenshots in $ARTIFACTS)"
  ((failed == 0))
  exit
}

WORK=$(mktemp -d "${TMPDIR:-/var/tmp}/qovira-debootstrap.XXXXXX")
ROOT=$WORK/root
window_pid=
xvfb_pid=
cleanup() {
  [[ -n $window_pid ]] && kill "$window_pid" 2> /dev/null
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2> /dev/null
  # Innermost first; nothing is deleted while anything is still mounted inside the root.
  for mounted in "$ROOT/tmp/.X11-unix" "$ROOT/dev/pts" "$ROOT/dev" "$ROOT/proc"; do
    mountpoint -q "$mounted" 2> /dev/null && umount -l "$mounted"
  done
  if findmnt -rn -o TARGET | grep -qF "$ROOT/"; then
    echo "NOTE  $WORK is left behind: something is still mounted inside it"
  else
    rm -rf --one-file-system "$WORK"
  fi
}
trap cleanup EXIT
mkdir -p "$ARTIFACTS"

echo "== debootstrap --variant=minbase $SUITE ($MIRROR)"
if debootstrap --variant=minbase "$SUITE" "$ROOT" "$MIRROR" > "$WORK/debootstrap.log" 2>&1; then
  pass "a minimal Debian 12 root"
else
  fail "a minimal Debian 12 root" "$(tail -5 "$WORK/debootstrap.log")"
  finish
fi
mount -t proc proc "$ROOT/proc"
mount --bind /dev "$ROOT/dev"
mount --bind /dev/pts "$ROOT/dev/pts"
cp /etc/resolv.conf "$ROOT/etc/resolv.conf"
# No services start inside the root.
printf '#!/bin/sh\nexit 101\n' > "$ROOT/usr/sbin/policy-rc.d"
chmod 755 "$ROOT/usr/sbin/policy-rc.d"
in_root() {
  chroot "$ROOT" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive "$@"
}

echo "== apt-get install ./$(basename "$DEB") inside the root"
cp "$DEB" "$ROOT/tmp/"
if in_root apt-get update -q > "$WORK/apt.log" 2>&1 &&
  in_root apt-get install -y -q "/tmp/$(basename "$DEB")" >> "$WORK/apt.log" 2>&1; then
  pass "apt-get install of the package, with what it recommends"
else
  fail "apt-get install of the package" "$(tail -5 "$WORK/apt.log")"
  finish
fi
cjk_fonts=$(in_root dpkg-query -W -f='${db:Status-Status} ${Package}\n' fonts-wqy-microhei \
  fonts-noto-cjk 2> /dev/null | awk '$1 == "installed" {print $2}')
if [[ -n $cjk_fonts ]]; then
  pass "a CJK font came with the package: $cjk_fonts"
else
  fail "a CJK font came with the package"
fi
if [[ $(in_root dpkg-query -W -f='${db:Status-Status}' qt6-translations-l10n 2> /dev/null) == installed ]]; then
  pass "Qt's translations came with the package"
else
  fail "Qt's translations came with the package"
fi

# --- the window on an Xvfb display --------------------------------------------------------------
# The display number comes from Xvfb itself once it listens (-displayfd).
mkfifo "$WORK/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3> "$WORK/display" 2> "$WORK/xvfb.log" &
xvfb_pid=$!
read -r display < "$WORK/display"
if [[ -z $display ]]; then
  fail "Xvfb started" "$(tail -3 "$WORK/xvfb.log")"
  finish
fi
export DISPLAY=:$display
mkdir -p "$ROOT/tmp/.X11-unix"
mount --bind /tmp/.X11-unix "$ROOT/tmp/.X11-unix"

# shoot NAME: starts the window inside the root, waits until it is shown and its picture holds
# still, saves it as ARTIFACTS/NAME.png and closes the window.
shoot() {
  local name=$1 window= previous= waited=0
  # chroot and env replace themselves with the program: this pid is the window's.
  chroot "$ROOT" env -i PATH=/usr/bin:/bin HOME=/root LANG=C.UTF-8 DISPLAY="$DISPLAY" \
    XDG_RUNTIME_DIR=/tmp QT_QPA_PLATFORM=xcb QoviraTableTool > "$WORK/$name.log" 2>&1 &
  window_pid=$!
  while [[ -z $window ]]; do
    if ! kill -0 "$window_pid" 2> /dev/null; then
      fail "the window started ($name)" "$(tail -5 "$WORK/$name.log")"
      window_pid=
      return 1
    fi
    window=$(xdotool search --onlyvisible --name "$TITLE" 2> /dev/null | head -1)
    sleep 1
    ((++waited < HANG_LIMIT)) || break
  done
  # The same picture twice in a row, and more than one colour: painted, and done painting.
  while ((++waited < HANG_LIMIT)); do
    import -window "$window" "$WORK/$name.ppm" 2> /dev/null
    if [[ -n $previous ]] && cmp -s "$previous" "$WORK/$name.ppm" &&
      (($(convert "$WORK/$name.ppm" -format '%k' info:) > 2)); then
      break
    fi
    cp "$WORK/$name.ppm" "$WORK/$name.previous.ppm"
    previous=$WORK/$name.previous.ppm
    sleep 1
  done
  kill "$window_pid" 2> /dev/null
  wait "$window_pid" 2> /dev/null
  window_pid=
  if ((waited >= HANG_LIMIT)); then
    fail "the window shown and painted ($name)" "$(tail -5 "$WORK/$name.log")"
    return 1
  fi
  convert "$WORK/$name.ppm" "$ARTIFACTS/$name.png"
  pass "a screenshot of the window: $ARTIFACTS/$name.png"
}

echo "== the window inside the root, on display $DISPLAY"
shoot debootstrap-window || finish
# shellcheck disable=SC2086
in_root dpkg -r $cjk_fonts > "$WORK/remove-fonts.log" 2>&1
shoot debootstrap-window-without-cjk-font || finish
with_font=$ARTIFACTS/debootstrap-window.png
without_font=$ARTIFACTS/debootstrap-window-without-cjk-font.png
if [[ $(identify -format '%wx%h' "$with_font") != $(identify -format '%wx%h' "$without_font") ]]; then
  difference="the size of the window"
else
  difference=$(compare -metric AE "$with_font" "$without_font" null: 2>&1)
  [[ $difference == 0 ]] || difference="$difference pixels"
fi
if [[ $difference != 0 ]]; then
  pass "the window draws its Chinese with the CJK font (without it, $difference differ)"
else
  fail "the window draws its Chinese with the CJK font" "the window looks the same without it"
fi

finish
