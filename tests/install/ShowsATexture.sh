#!/usr/bin/env bash
# The installed program, started from / with --game on a generated game install, under the test
# run's X server: the tree finds a texture through the filter line and the view shows it.
#   ShowsATexture.sh <prefix> <velmora_demo> <work folder>
# Exit 77 (skipped) without an X display.
set -euo pipefail
prefix=$1 demo=$2 work=$3
[ -n "${DISPLAY:-}" ] || { echo "no X display"; exit 77; }

rm -rf "$work"
mkdir -p "$work/home"
"$demo" "$work/demo" >/dev/null
game="$work/demo/prefix/drive_c/Program Files (x86)/World of Warcraft"

# A user of its own: no remembered window, logs and settings in scratch folders (an installed
# copy keeps its logs in the user's state folder).
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/config" XDG_STATE_HOME="$work/home/state"
cd /
"$prefix/bin/VelmoraGL" --game "$game" >"$work/out.txt" 2>&1 &
viewer=$!
trap 'kill "$viewer" 2>/dev/null || true' EXIT

window=$(timeout 60 xdotool search --sync --onlyvisible --name '^Velmora OpenGL$' | head -n1)
# The loading runs once the window shows; the log says when the last archive is in.
for _ in $(seq 600); do
  log=$(find "$XDG_STATE_HOME" -name '*.txt' 2>/dev/null | head -n1 || true)
  [ -n "$log" ] && grep -q 'patch-enUS-2.MPQ opened' "$log" && break
  sleep 0.1
done
sleep 2  # the file lists, after the last archive

eval "$(xdotool getwindowgeometry --shell "$window")"
# There is no window manager to give the window the keyboard: a click on the tree's empty part
# does. Then Ctrl+F, two words that only one path holds, Return to the tree, End to the file.
xdotool mousemove --sync $((X + 100)) $((Y + 400)) click 1
sleep 0.5
xdotool key ctrl+f
xdotool type --delay 20 'azeroth map24_25'
sleep 1
xdotool key Return End
sleep 2

# The view's top left: right of the 196-pixel tree and the 3-pixel splitter.
/usr/bin/import -window root "$work/screen.png"
/usr/bin/import -window root -crop "32x32+$((X + 199))+$((Y))" "$work/view.png"
colours=$(/usr/bin/convert "$work/view.png" -format '%k' info:)
echo "log: $log"
cat "$log"
echo "colours in the view's first 32 x 32 pixels: $colours"
grep -q "Shaders from $prefix/share/velmora/shader" "$log" || { echo "FAIL: the installed shaders were not used"; exit 1; }
[ "$colours" -gt 4 ] || { echo "FAIL: the view shows no texture"; exit 1; }
# The tree belongs to the package manager: the run (as root in CI) leaves nothing in it.
extra=$(ls -A "$prefix/bin" | grep -v -x VelmoraGL || true)
[ -z "$extra" ] || { echo "FAIL: the run wrote into $prefix/bin: $extra"; exit 1; }
echo "the installed viewer shows a texture"
