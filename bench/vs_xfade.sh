#!/usr/bin/env bash
# Renders the same transition job with tavhost and with FFmpeg, side by side in
# one run: the same two clips, the same encoder settings on both sides (libx264
# veryfast crf 20 with a keyframe every 2 s, AAC 192k). Prints a table of median
# wall times (and peak memory), relative to FFmpeg's xfade dissolve.
# A second table: copy renders with sound as the clips grow (two 320x240
# clips of 10 s, 60 s and 180 s), and a 40-clip sequence rendered whole and in two
# parts at once (GNU parallel) joined, on this machine.
#   bench/vs_xfade.sh [BUILD_DIR] [RUNS] [SIZE] [SECONDS]
set -euo pipefail
build=${1:-build}
runs=${2:-3}
size=${3:-1920x1080}
seconds=${4:-10}
tavhost="$build/bin/tavhost"
export TAV_PLUGIN_PATH="$build/lib/tav/bundles"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fps=30
frames=120 # speed 1
clip_frames=$((seconds * fps))
offset=$(awk -v n=$clip_frames -v l=$frames -v f=$fps 'BEGIN { printf "%.4f", (n - l) / f }')
duration=$(awk -v l=$frames -v f=$fps 'BEGIN { printf "%.4f", l / f }')
venc=(-c:v libx264 -preset veryfast -crf 20 -g $((2 * fps)) -pix_fmt yuv420p)
aenc=(-c:a aac -b:a 192k -ar 48000 -ac 2)

# The clips carry their colour description, as a camera's do (BT.709 from 720
# lines up, BT.601 below), so that --copy-unchanged can copy them.
height=${size#*x}
matrix=$([ "$height" -ge 720 ] && echo bt709 || echo smpte170m)
tags=(-colorspace $matrix -color_primaries $matrix -color_trc $matrix -color_range tv)
echo "making two ${seconds}s clips at $size..." >&2
ffmpeg -v error -y -f lavfi -i "testsrc2=size=$size:rate=$fps:duration=$seconds" \
  -f lavfi -i "sine=frequency=440:duration=$seconds" -t "$seconds" "${venc[@]}" "${tags[@]}" \
  "${aenc[@]}" "$work/a.mp4"
ffmpeg -v error -y -f lavfi -i "mandelbrot=size=$size:rate=$fps" \
  -f lavfi -i "sine=frequency=660:duration=$seconds" -t "$seconds" "${venc[@]}" "${tags[@]}" \
  "${aenc[@]}" "$work/b.mp4"

# Runs a command; prints "seconds peak-KiB".
measure() {
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>&1
  cat "$work/time"
}

xfade() {
  ffmpeg -v error -y -i "$work/a.mp4" -i "$work/b.mp4" -filter_complex \
    "[0:v][1:v]xfade=transition=$1:duration=$duration:offset=$offset[v];[0:a][1:a]acrossfade=d=$duration[a]" \
    -map "[v]" -map "[a]" "${venc[@]}" "${aenc[@]}" "$work/out.mp4"
}
cut() {
  ffmpeg -v error -y -i "$work/a.mp4" -i "$work/b.mp4" -filter_complex \
    "[0:v][0:a][1:v][1:a]concat=n=2:v=1:a=1[v][a]" -map "[v]" -map "[a]" "${venc[@]}" "${aenc[@]}" \
    "$work/out.mp4"
}
ours() {
  "$tavhost" render boxscatter --speed 1 --seed 1 --quiet "$@" "$work/a.mp4" "$work/b.mp4" \
    -o "$work/out.mp4"
}

# The second table's clips: 320x240 with sound, 10 s, 60 s and 180 s; 40
# clips of 3 s at 854x480 for the sequence.
for s in 10 60 180; do
  for c in a b; do
    src=$([ $c = a ] && echo testsrc2 || echo mandelbrot)
    ffmpeg -v error -y -f lavfi -i "$src=size=320x240:rate=$fps" -f lavfi -i "sine=frequency=550" \
      -t "$s" "${venc[@]}" -colorspace smpte170m -color_primaries smpte170m -color_trc smpte170m \
      -color_range tv "${aenc[@]}" "$work/s$s$c.mp4"
  done
done
for i in $(seq 40); do
  ffmpeg -v error -y -f lavfi -i "testsrc2=size=854x480:rate=$fps,hue=h=$((i * 9))" \
    -f lavfi -i "sine=frequency=$((200 + i * 10))" -t 3 "${venc[@]}" "${aenc[@]}" "$work/q$i.mp4"
done
sequence=$(for i in $(seq 40); do printf '%s ' "$work/q$i.mp4"; done)

copied() {
  "$tavhost" render boxscatter --variant 4 --speed 1 --seed 1 --quiet --copy-unchanged \
    "$work/s$1a.mp4" "$work/s$1b.mp4" -o "$work/out.mp4"
}
whole() {
  "$tavhost" render boxscatter --length 1.5 --seed 1 --quiet $sequence -o "$work/out.mp4"
}
parts() {
  rm -f "$work"/part*.mkv
  parallel --will-cite -j 2 "$tavhost" render boxscatter --length 1.5 --seed 1 --quiet $sequence \
    --part {}/2 -o "$work/part{}.mkv" ::: 1 2
  "$tavhost" join --quiet "$work/part1.mkv" "$work/part2.mkv" -o "$work/out.mp4"
}

jobs=("ffmpeg hard cut (no transition)|cut"
  "ffmpeg xfade dissolve|xfade dissolve"
  "ffmpeg xfade fade|xfade fade"
  "tavhost boxscatter box 16|ours --variant 4"
  "tavhost boxscatter box 2|ours --variant 1"
  "tavhost boxscatter box 16, drawn directly (TAV_DRAW=direct)|TAV_DRAW=direct ours --variant 4"
  "tavhost boxscatter box 2, drawn directly (TAV_DRAW=direct)|TAV_DRAW=direct ours --variant 1"
  "tavhost boxscatter box 8 --preview|ours --variant 3 --preview"
  "tavhost boxscatter box 16 --copy-unchanged|ours --variant 4 --copy-unchanged"
  "tavhost boxscatter box 2 --copy-unchanged|ours --variant 1 --copy-unchanged")
more=("tavhost --copy-unchanged, two 10 s 320x240 clips with sound|copied 10"
  "tavhost --copy-unchanged, two 60 s 320x240 clips with sound|copied 60"
  "tavhost --copy-unchanged, two 180 s 320x240 clips with sound|copied 180"
  "tavhost 40 clips of 3 s at 854x480, whole|whole"
  "tavhost 40 clips of 3 s at 854x480, 2 parts at once + join|parts")
declare -A times mems
for ((i = 0; i < runs; i++)); do
  for job in "${jobs[@]}" "${more[@]}"; do
    name=${job%%|*}
    read -r t m <<<"$(measure bash -c "$(declare -f cut xfade ours copied whole parts); $(declare -p venc aenc work tavhost duration offset sequence); ${job#*|}")"
    times[$name]+="$t "
    mems[$name]+="$m "
  done
done

median() { tr ' ' '\n' | grep . | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
base=$(echo "${times[ffmpeg xfade dissolve]}" | median)
echo
echo "two ${seconds}s $size clips, a $frames-frame transition; median of $runs runs"
echo
echo "| job | wall time | relative to xfade dissolve | peak memory |"
echo "|---|---|---|---|"
for job in "${jobs[@]}"; do
  name=${job%%|*}
  t=$(echo "${times[$name]}" | median)
  m=$(echo "${mems[$name]}" | median)
  awk -v n="$name" -v t="$t" -v b="$base" -v m="$m" \
    'BEGIN { printf "| %s | %.2f s | %.2f | %d MiB |\n", n, t, t / b, m / 1024 }'
done

first=$(echo "${times[${more[0]%%|*}]}" | median)
whole=$(echo "${times[${more[3]%%|*}]}" | median)
echo
echo "copy renders with sound, and a long sequence whole and in parts; median of $runs runs"
echo
echo "| job | wall time | relative to its group's first row | peak memory |"
echo "|---|---|---|---|"
for k in "${!more[@]}"; do
  name=${more[$k]%%|*}
  t=$(echo "${times[$name]}" | median)
  m=$(echo "${mems[$name]}" | median)
  b=$([ "$k" -lt 3 ] && echo "$first" || echo "$whole")
  awk -v n="$name" -v t="$t" -v b="$b" -v m="$m" \
    'BEGIN { printf "| %s | %.2f s | %.2f | %d MiB |\n", n, t, t / b, m / 1024 }'
done
