// Everything decided before the first frame is made: the edit read, the
// outputs checked, the clips probed and trimmed, the bundles loaded, every
// transition described by its own instance, the timeline laid out. Every
// mistake in what the user asked for is found here, before any output exists.
#pragma once

#include <string>
#include <vector>

#include "edit.h"
#include "error.h"
#include "render.h"
#include "render_job.h"
#include "sequence.h"

namespace tavhost {

// Plans a render: the sequence it makes, and the edit and settings it was made from.
struct SequencePlan : Sequence {
    // Plans `job`. False with the reason in `error`, which says whether a
    // value the user gave was at fault.
    bool Make(const RenderJob& job, std::vector<std::string>* warnings, Error* error);

    Edit edit;
    OutputSettings settings;

  private:
    bool ReadEdit(const RenderJob& job, Error* error);
    bool CheckOutputs(const RenderJob& job, Error* error);
    bool ProbeClips(std::vector<std::string>* warnings, Error* error);
    bool Trim(PlannedClip& clip, const ClipEntry& entry, Error* error);
    void ChooseFormat();
    bool PlaceCommandLineBundle(const RenderJob& job, Error* error);
    bool Describe(const TransitionEntry& entry, PlannedTransition* out, TransitionRequest* request,
                  Error* error);
    const Bundle* Load(const TransitionEntry& entry, Error* error);
    bool Lay(const RenderJob& job, std::vector<std::string>* warnings, Error* error);
    void PlanCopy(std::vector<std::string>* warnings);
    void PlanSoundCopy();
    void ChoosePiece(const RenderJob::Part& part);
    uint32_t PartSeed() const;
    std::string Where(const std::string& where) const;
};

// Plans `job` and renders it.
bool Render(const RenderJob& job, RenderSummary* summary, Error* error);

}  // namespace tavhost
