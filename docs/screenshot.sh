#!/usr/bin/env bash
# Takes docs/varnelo-window.png: the window under a virtual X display after a scan of a small
# folder whose backup copies carry other tags than the originals, with the tags of one group
# side by side and the tree's context menu open on a copy. Driven by key strokes (Tab to
# "Scan Directory", the folder typed into the chooser, Shift+F10 for the menu). Needs the
# build (tools/run or tools/test builds build/ui/varnelo), python3, xvfb-run, xdotool, lame, id3v2 and
# ImageMagick's import.
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
bin="${VARNELO_BIN:-$src/build/ui/varnelo}"
out="$src/docs/varnelo-window.png"
work="$(mktemp -d /tmp/demo-XXXX)"
trap 'rm -rf "$work"' EXIT

# One recording: a few seconds of noise encoded once, so that every copy has its audio.
encode() {  # path seed seconds kbps
  python3 "$src/tools/mp3_fixtures.py" noise-mp3 "$@"
}
# A copy of a recording under other tags: the tags change, the audio stays.
copy() {  # from to id3v2-options...
  mkdir -p "$(dirname "$2")"
  cp "$1" "$2"
  id3v2 -D "$2" >/dev/null
  [ $# -gt 2 ] && id3v2 "${@:3}" "$2" >/dev/null
  return 0
}
m="$work/Music"
encode "$work/night.mp3" 1 3 192
encode "$work/blue.mp3" 3 2 128
encode "$work/late.mp3" 4 2 160
copy "$work/night.mp3" "$m/Rock/01 - Night Drive.mp3" -2 -t "Night Drive" -a "The Harbour" -A "Lights" -y 2009 -T 1
copy "$work/night.mp3" "$m/Backup/Night Drive (copy).mp3" -2 -t "Night Drive" -a "The Harbour" -A "Lights" -y 2011 -T 1
copy "$work/night.mp3" "$m/Downloads/night_drive.mp3" -1 -t "night drive" -a "harbour"
copy "$work/blue.mp3" "$m/Jazz/03 - Blue Hour.mp3" -2 -t "Blue Hour" -a "Quartet" -A "Evening" -y 1998 -T 3
copy "$work/blue.mp3" "$m/Backup/Blue Hour.mp3" -2 -t "Blue Hour" -a "Quartet" -A "Evening" -y 1998 -T 3
copy "$work/late.mp3" "$m/Jazz/04 - Late Train.mp3" -2 -t "Late Train" -a "Quartet" -A "Evening" -y 1998 -T 4

cd "$work"
export VARNELO_BIN="$bin" SHOT="$out" MUSIC="$m" XDG_CONFIG_HOME="$work/config"
xvfb-run -a -s "-screen 0 1280x720x24" bash -c '
  "$VARNELO_BIN" & pid=$!
  wid=$(xdotool search --sync --name "^Varnelo$" | head -1)
  sleep 1
  xdotool windowfocus --sync "$wid"
  # Focus starts on the tree; "Scan Directory" is the fifth tab stop after it.
  xdotool key --window "$wid" Tab Tab Tab Tab Tab space
  sleep 1
  xdotool type --delay 5 "$MUSIC"
  xdotool key Return
  sleep 2
  # Back to the tree (five tab stops), onto the download of the first group, its menu open.
  xdotool key --window "$wid" shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab
  xdotool key --window "$wid" Down Down Down space shift+F10
  sleep 1
  import -window root -crop "$(xdotool getwindowgeometry "$wid" |
    awk "/Geometry/ {g=\$2} /Position/ {split(\$2, p, \",\"); x=p[1]; y=p[2]} END {print g \"+\" x \"+\" y}")" "$SHOT"
  xdotool key Escape
  sleep 0.5
  xdotool key --window "$wid" Escape
  sleep 0.5
  kill $pid 2>/dev/null || true
  wait $pid || true
'
echo "wrote $out"
