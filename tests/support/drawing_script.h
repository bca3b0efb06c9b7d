// A plug-in whose DoFrame draws what a byte string says, through the host's
// services and the drawing layer as a bundle would: source frames fetched
// and released, copies (box by box, whole, scaled, from the output back
// onto itself, into a source), fills, erases, text. Running one script on a
// host that draws directly and on one that records must give the same pixels.
#pragma once

#include <cstdint>
#include <vector>

#include "host.h"

namespace tavtest {

// Runs the script's DoFrame on `host`, drawing into `world` at `frameRect`.
int32_t RunDrawingScript(tavhost::Host& host, GWorldPtr world, const Rect& frameRect,
                         const std::vector<uint8_t>& script);

// Pixels of `world`, row by row, and a recognisable pattern to start from.
std::vector<uint32_t> WorldPixels(GWorldPtr world);
void PaintPattern(GWorldPtr world, uint32_t salt);

}  // namespace tavtest
