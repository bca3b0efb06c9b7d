// Everything decided before the first frame is made: the edit read, the
// outputs checked, the clips probed and trimmed, the bundles loaded, every
// transition described by its own instance, the timeline laid out. Every
// mistake in what the user asked for is found here, before any output exists.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "clip_reader.h"
#include "clip_spool.h"
#include "copy_plan.h"
#include "edit.h"
#include "error.h"
#include "host.h"
#include "instance.h"
#include "loaded_bundle.h"
#include "packet_index.h"
#include "placement.h"
#include "planned_clip.h"
#include "render_job.h"

namespace tavhost {

struct PlannedTransition {
    TransitionEntry entry;
    std::string name;  // how messages name it: "boxscatter", "joins[1] (boxscatter)"
    const Bundle* bundle = nullptr;
    std::unique_ptr<TransitionInstance> instance;  // described; Initialize comes at its start
    TransitionTiming timing;                       // its GetInfo answer
    uint32_t seed = 0;
};

struct OutputFormat {
    int width = 0, height = 0;
    media::Rational fps;
    media::SoundFormat sound;
};

struct SequencePlan {
    SequencePlan() = default;
    SequencePlan(const SequencePlan&) = delete;
    SequencePlan& operator=(const SequencePlan&) = delete;
    // The instances end (Terminate still calls into the host) before the host.
    ~SequencePlan() {
        transitions.clear();
        host.reset();
    }

    // Plans `job`. False with the reason in `error`, which says whether a
    // value the user gave was at fault.
    bool Make(const RenderJob& job, std::vector<std::string>* warnings, Error* error);

    Edit edit;
    OutputSettings settings;
    std::string output;
    OutputFormat format;
    std::vector<PlannedClip> clips;
    std::map<std::string, std::unique_ptr<Bundle>> bundles;
    std::unique_ptr<Host> host;
    std::vector<PlannedTransition> transitions;  // in the timeline's order
    Timeline timeline;
    CopyPlan copy;         // what is copied rather than encoded (nothing unless asked)
    bool copying = false;  // asked for, or a preview
    uint32_t seed = 0;

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
    std::string Where(const std::string& where) const;
};

}  // namespace tavhost
