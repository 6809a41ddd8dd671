#!/usr/bin/env bash
# Takes docs/varnelo-window.png: the window under a virtual X display after a scan of a small
# folder with duplicates, driven by key strokes (Tab to "Scan Directory", the folder typed
# into the chooser, copies ticked with the keyboard). Needs the build (tools/run or tools/test builds build/ui/varnelo),
# xvfb-run, xdotool and ImageMagick's import.
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
bin="${VARNELO_BIN:-$src/build/ui/varnelo}"
out="$src/docs/varnelo-window.png"
work="$(mktemp -d /tmp/demo-XXXX)"
trap 'rm -rf "$work"' EXIT

# A small music folder: the same recordings under other tags in a backup copy.
song() {  # path seed title
  mkdir -p "$(dirname "$1")"
  { printf 'ID3\3\0\0\0\0\0\12'; printf '%010d' 0;
    (set +o pipefail; openssl enc -aes-128-ctr -nosalt -pass "pass:$2" -in /dev/zero 2>/dev/null |
                      head -c $((3000000 + $2 * 170000)));
    printf 'TAG%-30.30s%-95s' "$3" ""; } > "$1"
}
song "$work/Music/Rock/01 - Night Drive.mp3" 1 "Night Drive"
song "$work/Music/Rock/02 - Harbour Lights.mp3" 2 "Harbour Lights"
song "$work/Music/Jazz/03 - Blue Hour.mp3" 3 "Blue Hour"
song "$work/Music/Jazz/04 - Late Train.mp3" 4 "Late Train"
song "$work/Music/Backup/Night Drive (copy).mp3" 1 "Night Drive (2009 tag)"
song "$work/Music/Backup/Blue Hour.mp3" 3 "Blue Hour [remaster tag]"
song "$work/Music/Backup/old/Blue Hour.mp3" 3 ""
song "$work/Music/Singles/05 - Paper Moon.mp3" 5 "Paper Moon"

cd "$work"
export VARNELO_BIN="$bin" SHOT="$out" MUSIC="$work/Music"
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
  # Back to the tree (five tab stops) and tick the copies in the backup folder.
  xdotool key --window "$wid" shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab
  xdotool key --window "$wid" Down Down space Down Down Down space Down space
  sleep 1
  import -window "$wid" "$SHOT"
  xdotool key Escape
  wait $pid
'
echo "wrote $out"
