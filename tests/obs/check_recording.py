"""Checks an OBS recording of one switch from scene A (red) to scene B (blue)
through a transition: reads raw RGB frames (640x360) on stdin, classifies
each 16-pixel box of each frame as red, blue, white, black or mixed, and
checks the order a transition of that kind must show.
    python3 check_recording.py TRANSITION < frames.rgb"""
import sys

W, H, STEP = 640, 360, 16


def kind(r, g, b):
    if r > 180 and g < 80 and b < 80:
        return "red"
    if b > 180 and r < 80 and g < 80:
        return "blue"
    if r > 200 and g > 200 and b > 200:
        return "white"
    if r < 50 and g < 50 and b < 50:
        return "black"
    return "other"


def boxes(frame):
    """The share of each kind among the boxes, and the boxes not of one kind."""
    counts, split = {}, 0
    for top in range(0, H, STEP):
        for left in range(0, W, STEP):
            kinds = set()
            for y in (top + 3, min(top + STEP, H) - 4):
                for x in (left + 3, left + STEP - 4):
                    i = (y * W + x) * 3
                    kinds.add(kind(frame[i], frame[i + 1], frame[i + 2]))
            if len(kinds) > 1:
                split += 1
            k = kinds.pop() if len(kinds) == 1 else "split"
            counts[k] = counts.get(k, 0) + 1
    total = sum(counts.values())
    return {k: v / total for k, v in counts.items()}, split


def main():
    transition = sys.argv[1]
    data = sys.stdin.buffer.read()
    n = len(data) // (W * H * 3)
    shares = []
    for k in range(n):
        share, split = boxes(data[k * W * H * 3:(k + 1) * W * H * 3])
        shares.append(share)
    red = [s.get("red", 0) for s in shares]
    blue = [s.get("blue", 0) for s in shares]
    colour = "white" if "White" in transition else "black"
    fill = [s.get(colour, 0) for s in shares]
    between = [i for i in range(n) if red[i] < 0.99 and blue[i] < 0.99]
    print(f"{transition}: {n} frames, {len(between)} between A and B")
    for i in between:
        print(f"  frame {i}: red {red[i]:.3f} blue {blue[i]:.3f} {colour} {fill[i]:.3f}")
    problems = []
    if n < 30 or red[0] < 0.99 or blue[-1] < 0.99:
        problems.append("the recording does not go from A to B")
    if transition == "Cut":
        if between:
            problems.append("a cut shows frames between A and B")
    else:
        if len(between) < 10:
            problems.append("too few frames between A and B")
        split = sum(1 for i in between for s in [shares[i]] if s.get("split", 0) > 0.01)
        if split:
            problems.append(f"{split} frames hold boxes of mixed content (not on the 16-pixel grid)")
        if transition == "Box Scatter":
            if any(red[i] + blue[i] < 0.98 for i in between):
                problems.append("a scatter frame shows something other than A and B")
            # Each frame's pattern is drawn afresh, so its share scatters
            # about the progress: the quarters' means must grow.
            q = max(1, len(between) // 4)
            means = [sum(blue[i] for i in between[k * q:(k + 1) * q]) / q for k in range(4)]
            if any(b <= a for a, b in zip(means, means[1:])):
                problems.append(f"B's share does not grow (quarters {means})")
        else:
            mid = max(between, key=lambda i: fill[i])
            if fill[mid] < 0.95:
                problems.append(f"the colour never covers the frame (at most {fill[mid]:.3f})")
            first = [i for i in between if i < mid]
            second = [i for i in between if i > mid]
            if any(blue[i] > 0.01 for i in first) or any(red[i] > 0.01 for i in second):
                problems.append("A and B show at the same time")
    for p in problems:
        print("problem:", p)
    sys.exit(1 if problems else 0)


main()
