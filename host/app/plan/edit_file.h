// Edit files: a sequence written down as JSON.
//
//   {
//     "output": {"size": "1280x720", "rate": 25, "fit": "pad", "crf": 20,
//                "preset": "veryfast", "still_duration": 4, "path": "out.mp4"},
//     "clips": ["intro.mp4",
//               {"path": "beach.mov", "in": 2.5, "out": "0:09"},
//               {"path": "photo.jpg", "duration": 3}],
//     "open": {"bundle": "boxrevealblack", "variant": 2, "length": 1},
//     "joins": {"bundle": "boxscatter", "speed": 0.3},
//     "close": {"bundle": "boxconcealwhite", "length": "30f"}
//   }
//
// "joins" is one transition for every join, or a list with one entry per
// join (null for a plain cut). Times are seconds ("1:02.5" or 62.5) or
// frames ("75f": of the clip's own rate for in and out points, of the
// output's for lengths). Paths are relative to the edit file.
#pragma once

#include <string>

#include "edit.h"

namespace tavhost {

// Reads the edit file at `path` into `edit`, and the output settings into
// those of `settings` not already set (and `output` when empty). Mistakes
// are reported in `error` with the file and their place in it, such as
// "montage.json: clips[2].in: not a time".
bool LoadEdit(const std::string& path, Edit* edit, OutputSettings* settings, std::string* output,
              std::string* error);

}  // namespace tavhost
