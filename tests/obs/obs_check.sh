#!/usr/bin/env bash
# Runs OBS Studio under Xvfb with a fresh configuration and the box
# transitions module from a build folder: two scenes of one colour each,
# recording on, one switch from A to B through the transition named $2
# (driven by switch.lua), then checks the recording frame by frame: scene A,
# then frames in which boxes of B grow in share, then scene B.
#   tests/obs/obs_check.sh BUILD_DIR TRANSITION [WORK_DIR]
# TAV_OBS_CANVAS=WxH and TAV_OBS_BOX=N (2, 4, 8 or 16) set another canvas
# or box size; the recording is then not checked (the check reads 640x360
# with boxes of 16), and what the transition's frames cost is taken from
# OBS's log instead.
set -euo pipefail
build=$(realpath "$1")
transition=$2
work=${3:-$(mktemp -d)}
here=$(dirname "$(realpath "$0")")
mkdir -p "$work"
canvas=${TAV_OBS_CANVAS:-640x360}
box=${TAV_OBS_BOX:-16}
[[ $canvas =~ ^([0-9]+)x([0-9]+)$ ]] || { echo "obs_check: TAV_OBS_CANVAS must be WxH, not '$canvas'" >&2; exit 2; }
cx=${BASH_REMATCH[1]} cy=${BASH_REMATCH[2]}
[[ $box =~ ^(2|4|8|16)$ ]] || { echo "obs_check: TAV_OBS_BOX must be 2, 4, 8 or 16, not '$box'" >&2; exit 2; }
# The run's own folders in WORK_DIR, made afresh.
home="$work/home"
rm -rf "$home" "$work/out"
config="$home/.config/obs-studio"
mkdir -p "$config/basic/profiles/Check" "$config/basic/scenes" "$work/out"

# The module as a user installs it, with its bundles found through TAV_PLUGIN_PATH.
plugin="$config/plugins/tav-box-transitions"
mkdir -p "$plugin/bin/64bit" "$plugin/data"
cp "$build"/lib*/obs-plugins/tav-box-transitions.so "$plugin/bin/64bit/"
cp -r "$build"/share/obs/obs-plugins/tav-box-transitions/. "$plugin/data/"

cat >"$config/global.ini" <<INI
[General]
FirstRun=true
LastVersion=486539266
[Basic]
Profile=Check
ProfileDir=Check
SceneCollection=Check
SceneCollectionFile=Check
INI
cat >"$config/basic/profiles/Check/basic.ini" <<INI
[General]
Name=Check
[Video]
BaseCX=$cx
BaseCY=$cy
OutputCX=$cx
OutputCY=$cy
FPSType=0
FPSCommon=30
[Output]
Mode=Simple
[SimpleOutput]
FilePath=$work/out
RecFormat=mkv
RecQuality=Small
RecEncoder=x264
VBitrate=4000
FileNameWithoutSpace=true
[Audio]
SampleRate=48000
ChannelSetup=Stereo
INI
# Colours are 0xAABBGGRR: A red, B blue.
cat >"$config/basic/scenes/Check.json" <<JSON
{
  "name": "Check",
  "current_scene": "A",
  "current_program_scene": "A",
  "current_transition": "Fade",
  "transition_duration": 2000,
  "scene_order": [{"name": "A"}, {"name": "B"}],
  "sources": [
    {"id": "color_source_v3", "versioned_id": "color_source_v3", "name": "Red",
     "settings": {"color": 4278190335, "width": $cx, "height": $cy}},
    {"id": "color_source_v3", "versioned_id": "color_source_v3", "name": "Blue",
     "settings": {"color": 4294901760, "width": $cx, "height": $cy}},
    {"id": "scene", "versioned_id": "scene", "name": "A",
     "settings": {"id_counter": 1, "items": [{"name": "Red", "id": 1, "visible": true}]}},
    {"id": "scene", "versioned_id": "scene", "name": "B",
     "settings": {"id_counter": 1, "items": [{"name": "Blue", "id": 1, "visible": true}]}}
  ],
  "transitions": [
    {"id": "tav_box_scatter", "name": "Box Scatter", "settings": {"box_size": $box, "seed": 3}},
    {"id": "tav_box_via_white", "name": "Box via White", "settings": {"box_size": $box}},
    {"id": "tav_box_via_black", "name": "Box via Black", "settings": {"box_size": $box}}
  ],
  "modules": {"scripts-tool": [{"path": "$here/switch.lua", "settings": {}}]}
}
JSON

export HOME="$home" TAV_PLUGIN_PATH="$build/lib/tav/bundles" TAV_OBS_TRANSITION="$transition"
export LIBGL_ALWAYS_SOFTWARE=1 LD_LIBRARY_PATH="$build/lib/tav"
xvfb-run -a -s "-screen 0 1280x800x24" \
  sh -c 'echo "$DISPLAY $XAUTHORITY" >"$0/display"; exec obs --startrecording --scene A' "$work" \
  >"$work/obs.log" 2>&1 &
pid=$!
# OBS's window half-way through the transition: the script switches 2 s
# after it is loaded, and the transition takes 2 s.
for _ in $(seq 60); do
  grep -q "Loaded lua script" "$work/obs.log" 2>/dev/null && break
  sleep 0.5
done
sleep 3
read -r display auth <"$work/display"
XAUTHORITY=$auth ffmpeg -v error -y -f x11grab -video_size 1280x800 -i "$display" -frames:v 1 \
  "$work/window.png" || true
# The script stops the recording 4 s after loading; when the file has stopped
# growing OBS is closed as a user would (SIGINT; it does not end cleanly on SIGTERM).
sleep 12
last=-1
for _ in $(seq 60); do
  size=$(cat "$work"/out/*.mkv 2>/dev/null | wc -c)
  [ "$size" -gt 0 ] && [ "$size" = "$last" ] && break
  last=$size
  sleep 2
done
pkill -INT -f "obs --startrecording" || true
wait $pid || true
ls "$work"/out/*.mkv
if [ "$canvas" != 640x360 ] || [ "$box" != 16 ]; then
  grep -h -o '\[tav-box-transitions\] [0-9]*x[0-9]*, box.*' "$work/obs.log" "$home"/.config/obs-studio/logs/*.txt 2>/dev/null |
    sort -u | grep . || { echo "obs_check: no cost line in OBS's log" >&2; exit 1; }
  exit 0
fi
# Frame by frame: what each 16-pixel box shows, in the order the transition must show it.
ffmpeg -v error -i "$work"/out/*.mkv -f rawvideo -pix_fmt rgb24 - |
  python3 "$here/check_recording.py" "$transition"
