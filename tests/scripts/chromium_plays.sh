#!/usr/bin/env bash
# Plays a movie in headless Chromium from start to end and checks that every
# picture was played: the page reports, in its title, the frames the video
# element played and dropped, read over Chromium's debugging port.
#   tests/scripts/chromium_plays.sh MOVIE FRAMES
set -euo pipefail
movie=$(realpath "$1")
frames=$2
work=$(mktemp -d)
port=$((20000 + RANDOM % 20000))
browser=""
cleanup() {
  if [ -n "$browser" ]; then
    kill "$browser" 2>/dev/null || true
    wait "$browser" 2>/dev/null || true
  fi
  # Its helper processes may still be writing the profile as they end.
  for _ in 1 2 3 4 5; do rm -rf "$work" 2>/dev/null && break; sleep 0.5; done
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP
cp "$movie" "$work/movie.${movie##*.}"
cat >"$work/play.html" <<HTML
<html><body><video id=v muted src="movie.${movie##*.}"></video><script>
const v = document.getElementById('v');
const say = t => { document.title = t; };
v.onerror = () => say('error ' + (v.error && v.error.code));
v.onended = () => { const q = v.getVideoPlaybackQuality();
  say('ended ' + q.totalVideoFrames + ' ' + q.droppedVideoFrames + ' ' + v.duration); };
v.play().catch(e => say('refused ' + e));
</script></body></html>
HTML
chromium --headless=new --no-sandbox --disable-gpu --user-data-dir="$work/profile" \
  --autoplay-policy=no-user-gesture-required --allow-file-access-from-files \
  --remote-debugging-port=$port "file://$work/play.html" >/dev/null 2>&1 &
browser=$!
title=""
for _ in $(seq 120); do
  sleep 0.5
  # The debugging port opens only once Chromium has started.
  title=$(curl -s "http://127.0.0.1:$port/json/list" | sed -n 's/.*"title": "\([a-z][^"]*\)".*/\1/p' | head -n 1) || true
  case "$title" in ended* | error* | refused*) break ;; esac
done
read -r what shown dropped duration <<<"$title"
[ "$what" = ended ] || { echo "chromium: $(basename "$movie"): ${title:-no answer}" >&2; exit 1; }
# Every picture reached the player; on a busy machine it may drop some of
# them from the screen, which says nothing of the file.
[ "$shown" -eq "$frames" ] ||
  { echo "chromium: $(basename "$movie"): $shown of $frames frames played" >&2; exit 1; }
echo "chromium: $(basename "$movie") played to its end: $shown frames in $duration s ($dropped dropped from the screen)"
