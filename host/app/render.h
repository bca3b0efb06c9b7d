// Rendering an edited sequence: the clips placed as an editor places them,
// each transition's frames drawn by its bundle, the whole sequence written
// as a movie or a series of images.
#pragma once

#include "error.h"
#include "interrupt.h"
#include "render_job.h"

namespace tavhost {

// Renders `job`. Returns true on success; otherwise `error` says why in one
// line, and whether a value the user gave was at fault.
bool Render(const RenderJob& job, RenderSummary* summary, Error* error);

}  // namespace tavhost
