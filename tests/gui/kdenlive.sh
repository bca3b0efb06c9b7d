#!/usr/bin/env bash
# Runs the real Kdenlive under Xvfb on the committed Kdenlive project, with
# the plug-ins and their descriptions installed into a throwaway prefix and
# nothing else set up: Kdenlive opens the project with its timeline cursor
# in the reveal's middle, then in the composition's, and a screenshot of the
# whole screen is taken each time; Kdenlive then saves the project, and what
# it saved is rendered through melt and its frames checked. Findings are
# printed; the screenshots, logs and saved project go to OUT.
#   tests/gui/kdenlive.sh BUILD OUT
set -euo pipefail
build=$(realpath "$1")
out=$(realpath -m "$2")
here=$(cd "$(dirname "$0")/../.." && pwd)
mkdir -p "$out"
work=$(mktemp -d)
xvfb="" editor=""
cleanup() {
    [ -n "$editor" ] && kill "$editor" 2>/dev/null || true
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP
fail() { echo "kdenlive: $*" >&2; exit 1; }

brightness() {
    ffmpeg -hide_banner -nostats -v info -i "$1" -vf "select=eq(n\,$2),signalstats,metadata=print:key=lavfi.signalstats.YAVG" \
        -frames:v 1 -f null - 2>&1 | sed -n 's/.*YAVG=\([0-9]*\).*/\1/p' | head -n 1
}

cmake --install "$build" --prefix "$work/prefix" >/dev/null
mkdir -p "$work/home"
ffmpeg -v error -y -f lavfi -i testsrc2=s=640x360:r=25:d=4 -c:v libx264 -pix_fmt yuv420p "$work/kA.mp4"
ffmpeg -v error -y -f lavfi -i color=c=0x2040ff:s=640x360:r=25:d=4 -c:v libx264 -pix_fmt yuv420p "$work/kB.mp4"

# The project with its clips and root here and the cursor at frame $1.
project() {
    sed -e "s|/tmp/kA.mp4|$work/kA.mp4|g; s|/tmp/kB.mp4|$work/kB.mp4|g; s|root=\"/tmp/kdproj\"|root=\"$work\"|" \
        -e "s|<property name=\"kdenlive:docproperties.position\">[0-9]*<|<property name=\"kdenlive:docproperties.position\">$1<|" \
        "$here/tests/projects/kdenlive-22.12-scatter-and-reveal.kdenlive" >"$work/project.kdenlive"
}

# Kdenlive on its own X server; waits for the project's window and lets the
# monitor draw. $1 names the screenshot; with $2 = save, Kdenlive saves the
# project as $work/saved.kdenlive too.
run() {
    exec 3<> <(:)
    Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb=$!
    local display=""
    for _ in $(seq 50); do
        read -r -t 0.2 display <&3 && break || true
    done
    [ -n "$display" ] || fail "Xvfb did not start"
    export DISPLAY=":$display"
    HOME="$work/home" XDG_DATA_DIRS="$work/prefix/share:/usr/share" \
        FREI0R_PATH="$work/prefix/lib/frei0r-1:/usr/lib/frei0r-1:/usr/local/lib/frei0r-1" \
        dbus-run-session kdenlive "$work/project.kdenlive" >"$out/kdenlive-$1.log" 2>&1 &
    editor=$!
    local window=""
    for _ in $(seq 120); do
        window=$(xdotool search --onlyvisible --name "project" 2>/dev/null | head -n 1) && [ -n "$window" ] && break
        kill -0 "$editor" 2>/dev/null || fail "Kdenlive ended before its window came up (see $out/kdenlive-$1.log)"
        sleep 1
    done
    [ -n "$window" ] || fail "no Kdenlive window showed the project in 120 s"
    sleep 10
    import -window root "$out/kdenlive-$1.png"
    if [ "${2:-}" = save ]; then
        # Save As (Save is off while nothing changed), into the project's folder.
        xdotool windowfocus --sync "$window" key --clearmodifiers ctrl+shift+s
        local dialog=""
        for _ in $(seq 30); do
            dialog=$(xdotool search --onlyvisible --name "Save As" 2>/dev/null | head -n 1) && [ -n "$dialog" ] && break
            sleep 1
        done
        [ -n "$dialog" ] || fail "Kdenlive showed no Save As dialog"
        xdotool windowfocus --sync "$dialog"
        sleep 1
        xdotool key --clearmodifiers ctrl+a type --delay 30 "$work/saved.kdenlive"
        xdotool key Return
        for _ in $(seq 30); do
            [ -s "$work/saved.kdenlive" ] && break
            sleep 1
        done
        [ -s "$work/saved.kdenlive" ] || fail "Kdenlive did not save the project"
        sleep 2
        cp "$work/saved.kdenlive" "$out/saved.kdenlive"
    fi
    kill "$editor" 2>/dev/null || true
    wait "$editor" 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
    wait "$xvfb" 2>/dev/null || true
    editor="" xvfb=""
}

project 48
run reveal-middle save
project 105
run composition-early

echo "kdenlive: screenshots $out/kdenlive-reveal-middle.png (cursor in the reveal, frame 48) and $out/kdenlive-composition-early.png (frame 105)"
grep -q "frei0r.boxscatter" "$out/saved.kdenlive" || fail "the saved project lost Box Scatter"
grep -q "frei0r.boxrevealblack" "$out/saved.kdenlive" || fail "the saved project lost the reveal"
echo "kdenlive: saved progress values: $(grep -o '<property name="progress">[^<]*' "$out/saved.kdenlive" | sed 's/.*>//' | tr '\n' ' ')"

# Kdenlive composites its tracks with qtblend where it has a display: melt needs one too.
FREI0R_PATH="$work/prefix/lib/frei0r-1" xvfb-run -a melt -silent "$work/saved.kdenlive" out=179 \
    -consumer avformat:"$work/saved.mkv" vcodec=ffv1 an=1 real_time=-1 >/dev/null 2>&1 || fail "melt could not render the saved project"
# Clip A from frame 10 with the reveal over its first 76 frames; clip B
# covers it from frame 76, and Box Scatter joins them from frame 98.
black=$(brightness "$work/saved.mkv" 10) half=$(brightness "$work/saved.mkv" 48) open=$(brightness "$work/saved.mkv" 72)
clip=$(brightness "$work/kA.mp4" 62)
echo "kdenlive: the saved project through melt: the reveal at frames 10, 48, 72: $black $half $open (clip A: $clip)"
[ "$black" -le 20 ] || fail "the reveal does not start black"
[ "$half" -gt "$black" ] && [ "$half" -lt "$open" ] || fail "the reveal is not half open at its middle"
[ $((open * 4)) -ge $((clip * 3)) ] || fail "the reveal is not nearly open near its end"
echo "kdenlive: ok"
