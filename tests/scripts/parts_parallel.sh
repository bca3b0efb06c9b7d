#!/usr/bin/env bash
# A render spread over the machine's cores with GNU parallel, as the README
# shows it: N parts rendered at once (through parallel's --sshlogin ":", the
# local machine as a login), joined, and compared with the render in one
# piece: the same pictures (lossless, so decoded bit for bit) and the same
# sound, packet for packet.
#   tests/scripts/parts_parallel.sh TAVHOST [PARTS]
set -euo pipefail
exec </dev/null  # ffmpeg would read it for keyboard commands
tavhost=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
parts=${2:-8}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT TERM HUP
cd "$work"
fail() { echo "parts-parallel: $*" >&2; exit 1; }

# Five clips of 2 s, each its own picture and tone; a still between them.
for i in 1 2 3 4 5; do
  ffmpeg -v error -f lavfi -i "testsrc2=s=160x96:r=25:d=2,hue=h=$((i * 60))" \
    -f lavfi -i "sine=f=$((200 + i * 110)):d=2" -c:v libx264 -preset ultrafast -c:a aac "c$i.mp4"
done
ffmpeg -v error -f lavfi -i testsrc2=s=160x96 -frames:v 1 still.png
args=(boxscatter --crf 0 --seed 5 --length 12f --open boxrevealblack --close boxconcealwhite
      c1.mp4 c2.mp4 still.png c3.mp4 c4.mp4 c5.mp4)

"$tavhost" render "${args[@]}" --quiet -o whole.mp4
parallel --will-cite --halt now,fail=1 -S : -j "$(nproc)" \
  "$tavhost" render "${args[@]}" --quiet --part {}/"$parts" -o part{}.mkv ::: $(seq "$parts")
# Given in the shell's order (part1, part10, part2, ...): the join sorts them.
"$tavhost" join --quiet part*.mkv -o joined.mp4

pictures() { ffmpeg -v error -i "$1" -map 0:v -f framemd5 - | grep -v '^#' | awk '{print $NF}'; }
sound() { ffmpeg -v error -i "$1" -map 0:a -c copy -f md5 -; }
[ "$(pictures whole.mp4 | wc -l)" -gt 100 ] || fail "the whole render is too short"
[ "$(pictures joined.mp4)" = "$(pictures whole.mp4)" ] || fail "the joined pictures differ from the whole render's"
[ "$(sound joined.mp4)" = "$(sound whole.mp4)" ] || fail "the joined sound differs from the whole render's"
# And it plays in a browser, where one is installed.
if command -v chromium >/dev/null && command -v curl >/dev/null; then
  "$here/chromium_plays.sh" joined.mp4 "$(pictures joined.mp4 | wc -l)"
fi
echo "parts-parallel: $parts parts over $(nproc) cores joined into the whole render"
