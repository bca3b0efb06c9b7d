#!/usr/bin/env bash
# Renders the same transition job with tavhost and with FFmpeg, side by side in
# one run: the same two clips, the same encoder settings on both sides (libx264
# veryfast crf 20 with a keyframe every 2 s, AAC 192k). Prints a table of median
# wall times (and peak memory), relative to FFmpeg's xfade dissolve.
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

echo "making two ${seconds}s clips at $size..." >&2
ffmpeg -v error -y -f lavfi -i "testsrc2=size=$size:rate=$fps:duration=$seconds" \
  -f lavfi -i "sine=frequency=440:duration=$seconds" -t "$seconds" "${venc[@]}" "${aenc[@]}" "$work/a.mp4"
ffmpeg -v error -y -f lavfi -i "mandelbrot=size=$size:rate=$fps" \
  -f lavfi -i "sine=frequency=660:duration=$seconds" -t "$seconds" "${venc[@]}" "${aenc[@]}" "$work/b.mp4"

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

jobs=("ffmpeg hard cut (no transition)|cut"
  "ffmpeg xfade dissolve|xfade dissolve"
  "ffmpeg xfade fade|xfade fade"
  "tavhost boxscatter box 16|ours --variant 4"
  "tavhost boxscatter box 2|ours --variant 1"
  "tavhost boxscatter box 8 --preview|ours --variant 3 --preview"
  "tavhost boxscatter box 16 --copy-unchanged|ours --variant 4 --copy-unchanged"
  "tavhost boxscatter box 2 --copy-unchanged|ours --variant 1 --copy-unchanged")
declare -A times mems
for ((i = 0; i < runs; i++)); do
  for job in "${jobs[@]}"; do
    name=${job%%|*}
    read -r t m <<<"$(measure bash -c "$(declare -f cut xfade ours); $(declare -p venc aenc work tavhost duration offset); ${job#*|}")"
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
