// A render as asked for: planned whole, then rendered.
#include <chrono>

#include "sequence_plan.h"

namespace tavhost {

bool Render(const RenderJob& job, RenderSummary* summary, Error* error) {
    const auto started = std::chrono::steady_clock::now();
    if (!(job.transition.speed >= 0.0f && job.transition.speed <= 1.0f)) {
        error->text = "speed must be between 0 and 1";
        return UsageMistake(error);
    }
    if (job.clips.empty() && job.editFile.empty()) {
        error->text = "no clip given";
        return UsageMistake(error);
    }
    SequencePlan plan;
    if (!plan.Make(job, &summary->warnings, error)) return false;
    if (!RenderSequence(plan, summary, error)) return false;
    summary->seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return true;
}

}  // namespace tavhost
