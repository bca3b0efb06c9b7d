#!/usr/bin/env bash
# Renders the same transition job with tavhost (boxscatter) and with FFmpeg's
# xfade filter (dissolve), side by side in one run: same clips, same size,
# same encoders and settings. Prints the median of each and their ratio.
#   bench/vs_xfade.sh [BUILD_DIR] [RUNS]
set -euo pipefail
build=${1:-build}
runs=${2:-3}
tavhost="$build/host/app/tavhost"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

size=1280x720
seconds=10
fps=30
speed=1.0                      # 120 frames
frames=120
clip_frames=$((seconds * fps))
offset=$(awk -v n=$clip_frames -v l=$frames -v f=$fps 'BEGIN { printf "%.4f", (n - l) / f }')
duration=$(awk -v l=$frames -v f=$fps 'BEGIN { printf "%.4f", l / f }')
enc=(-c:v libx264 -preset veryfast -crf 20 -pix_fmt yuv420p -c:a aac -b:a 192k -ar 48000 -ac 2)

echo "making two ${seconds}s clips at $size..."
ffmpeg -v error -y -f lavfi -i "testsrc2=size=$size:rate=$fps:duration=$seconds" \
  -f lavfi -i "sine=frequency=440:duration=$seconds" -t $seconds "${enc[@]}" "$work/a.mp4"
ffmpeg -v error -y -f lavfi -i "mandelbrot=size=$size:rate=$fps" \
  -f lavfi -i "sine=frequency=660:duration=$seconds" -t $seconds "${enc[@]}" "$work/b.mp4"

time_it() {  # prints seconds taken by the command
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s.%N)
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f\n", e - s }'
}

median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }

ours=()
theirs=()
for ((i = 0; i < runs; i++)); do
  ours+=("$(time_it "$tavhost" render boxscatter --variant 3 --speed $speed --seed 1 --quiet \
    "$work/a.mp4" "$work/b.mp4" -o "$work/ours.mp4")")
  theirs+=("$(time_it ffmpeg -v error -y -i "$work/a.mp4" -i "$work/b.mp4" -filter_complex \
    "[0:v][1:v]xfade=transition=dissolve:duration=$duration:offset=$offset[v];[0:a][1:a]acrossfade=d=$duration[a]" \
    -map "[v]" -map "[a]" "${enc[@]}" "$work/xfade.mp4")")
done
o=$(printf '%s\n' "${ours[@]}" | median)
t=$(printf '%s\n' "${theirs[@]}" | median)
n_ours=$(ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets -of csv=p=0 "$work/ours.mp4")
n_theirs=$(ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets -of csv=p=0 "$work/xfade.mp4")
echo "job: two ${seconds}s $size clips, a $frames-frame transition, libx264 veryfast crf 20 + aac"
echo "tavhost boxscatter: median ${o}s of ${ours[*]} ($n_ours frames)"
echo "ffmpeg xfade:       median ${t}s of ${theirs[*]} ($n_theirs frames)"
awk -v o="$o" -v t="$t" 'BEGIN { printf "ratio tavhost / xfade: %.2f\n", o / t }'
