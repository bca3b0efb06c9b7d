// The help texts of tavhost and each of its commands.
#pragma once

namespace tavhost {

inline constexpr const char* kUsage =
    "usage: tavhost COMMAND [options]\n"
    "\n"
    "commands:\n"
    "  list         the bundles found, their variants, type and length\n"
    "  render       render a transition on clips into a movie or PNG frames\n"
    "  placeholder  draw a bundle's placeholder into a PNG file\n"
    "  demo         render every transition on two generated clips\n"
    "\n"
    "'tavhost COMMAND --help' tells more.\n";

inline constexpr const char* kRenderUsage =
    "usage: tavhost render BUNDLE [options] [--in T] [--out T] CLIP... -o OUT\n"
    "       tavhost render --edit FILE.json [options] [-o OUT]\n"
    "\n"
    "Renders the edited sequence with its transitions. A between-clips bundle joins\n"
    "every two neighbouring clips, overlapping the end of one with the start of the\n"
    "next; a bundle that opens or closes a clip covers the first or last frames of\n"
    "the one clip given.\n"
    "\n"
    "  --variant N          the bundle's variant (default 3)\n"
    "  --speed S            transition speed, 0 (10 frames) to 1 (120 frames); default 0.5\n"
    "  --length T           transition length instead: seconds (1.5) or frames (40f)\n"
    "  --open BUNDLE[:N]    also open the first clip with this bundle (variant N, default 3)\n"
    "  --close BUNDLE[:N]   also close the last clip with this bundle\n"
    "  --in T, --out T      use the next clip from T, up to T: seconds (2.5, 1:02.5) or\n"
    "                       frames of the clip (75f)\n"
    "  --edit FILE          the clips and transitions from an edit file (see README)\n"
    "  --seed N             seed the random sequence, so the render can be repeated\n"
    "                       (the k-th transition of a sequence gets N + k)\n"
    "  --preview            a quick look, at least ten times real time at 854x480: the\n"
    "                       plug-ins draw low-quality frames and mix no sound, pictures\n"
    "                       are scaled and converted the fast way (slightly softer, colours\n"
    "                       within a level or two) and encoded with x264's ultrafast preset\n"
    "                       (a bigger file); --preset still wins. It also copies the\n"
    "                       clips' pictures outside the transitions where it can, as\n"
    "                       --copy-unchanged does, but says nothing of clips it cannot\n"
    "                       (--no-copy-unchanged: encode every frame)\n"
    "  --size WxH           output size (default: the first clip's)\n"
    "  --rate R             output frame rate: 25, 29.97, 30000/1001 (default: the first clip's)\n"
    "  --fit pad|crop|stretch  clips of another shape: black bars (default), cut, or stretched\n"
    "  --still-duration S   seconds a still image is shown (default 5)\n"
    "  --crf N              H.264 quality, 0 (lossless) to 51 (worst); default 20\n"
    "  --preset NAME        H.264 encoder preset, ultrafast to placebo; default veryfast\n"
    "  --copy-unchanged     copy the clips' H.264 pictures outside the transitions as they\n"
    "                       are and encode only around the transitions (from the keyframe\n"
    "                       before each to the keyframe after it): much faster, and the\n"
    "                       copied pictures keep the clip's own quality, so --crf and\n"
    "                       --preset hold only for what is encoded. A clip that does not\n"
    "                       match the output (codec, size, rate, colours) is encoded, and\n"
    "                       a line says why. MP4, MOV and MKV outputs\n"
    "  --strict             a damaged clip is an error, not a warning\n"
    "  --verbose            also show FFmpeg's own messages\n"
    "  --caption TEXT       the host's placeholder caption\n"
    "  --contact-sheet IMG  also write frames of the transition side by side (.png or .jpg)\n"
    "  --quiet              no progress bar\n"
    "  -o OUT               .mp4, .mov or .mkv (H.264 and AAC), .webm (VP9 and Opus), a folder\n"
    "                       for PNG frames, or a frame pattern such as frames/f%04d.png;\n"
    "                       - streams the movie to standard output (| ffplay -)\n"
    "  --format F           the movie on standard output: mkv (default), webm, mp4 or mov\n"
    "  --                   the words after it are the bundle and clips (a clip named -x.mp4);\n"
    "                       a clip - is read from standard input\n"
    "\n"
    "The output has the first clip's size as it is shown (rotation applied, square pixels),\n"
    "made even with a one-pixel black edge where needed, and its frame rate. Clips are\n"
    "read with their own colour matrix (untagged: BT.709 from 720 lines up, BT.601 below);\n"
    "the output is converted and tagged the same way.\n";

inline constexpr const char* kListUsage =
    "usage: tavhost list [--speed S]\n"
    "\n"
    "Lists the bundles found in TAV_PLUGIN_PATH, the installed plug-in folder and the\n"
    "build tree, with each variant's type and length at the speed (default 0.5).\n";

inline constexpr const char* kPlaceholderUsage =
    "usage: tavhost placeholder BUNDLE [--size WxH] [--caption TEXT] -o FILE.png|FILE.jpg\n";

inline constexpr const char* kDemoUsage =
    "usage: tavhost demo [-o DIR] [--quiet]\n"
    "\n"
    "Makes two clips of its own, renders all five transitions on them (a movie and a\n"
    "contact sheet each) and the placeholder, into DIR (default: demo).\n";

}  // namespace tavhost
