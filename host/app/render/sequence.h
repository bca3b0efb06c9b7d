// A sequence ready to render, as the plan leaves it: the output and its
// format, the clips probed and trimmed, every transition described by its own
// instance, the timeline laid out, and what is copied rather than encoded.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "copy_plan.h"
#include "host.h"
#include "instance.h"
#include "loaded_bundle.h"
#include "media_types.h"
#include "movie_writer.h"
#include "pieces.h"
#include "placement.h"
#include "planned_clip.h"
#include "render_defaults.h"
#include "sinks.h"

namespace tavhost {

struct PlannedTransition {
    std::string name;   // how messages name it: "boxscatter", "joins[1] (boxscatter)"
    std::string where;  // where it was given ("joins[1]", "--open"); empty for the command line's
    int16_t variant = defaults::kVariant;
    float speed = defaults::kSpeed;
    const Bundle* bundle = nullptr;
    std::unique_ptr<TransitionInstance> instance;  // described; Initialize comes at its start
    TransitionTiming timing;                       // its GetInfo answer
    uint32_t seed = 0;
};

struct Sequence {
    Sequence() = default;
    Sequence(const Sequence&) = delete;
    Sequence& operator=(const Sequence&) = delete;
    // The instances end (Terminate still calls into the host) before the host.
    ~Sequence() {
        transitions.clear();
        host.reset();
    }

    std::string output;
    OutputTarget target;  // what `output` names, told once
    media::OutputFormat format;
    media::Matrix matrix = media::Matrix::kBt601;  // the colour matrix the output is made in
    media::Encoding encoding;
    std::vector<PlannedClip> clips;
    std::map<std::string, std::unique_ptr<Bundle>> bundles;
    std::unique_ptr<Host> host;
    std::vector<PlannedTransition> transitions;  // in the timeline's order
    Timeline timeline;
    CopyPlan copy;             // what is copied rather than encoded (nothing unless asked)
    bool copying = false;      // asked for, or a preview
    bool preview = false;      // a fast draft: the plug-ins may draw in low quality
    bool strict = false;       // a damaged clip is an error
    bool quiet = false;        // no progress line
    std::string contactSheet;  // image of frames of every transition, if set
    uint32_t seed = 0;
    Piece piece;  // the frames rendered and written: all of them unless --part
};

}  // namespace tavhost
