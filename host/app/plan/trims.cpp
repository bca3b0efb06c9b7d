// The parts of the clips a sequence uses, and the output format they set.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "movie_writer.h"
#include "render_defaults.h"
#include "sequence_plan.h"
#include "sinks.h"
#include "user_text.h"

namespace tavhost {

namespace {

std::string Clock(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f s", seconds);
    return text;
}

}  // namespace

bool SequencePlan::Trim(PlannedClip& clip, const ClipEntry& entry, Error* error) {
    const media::ClipInfo& info = clip.info;
    // "--in of clip 'a.mp4'", or "clips[2].in" in the edit file.
    auto bare = [&](const std::string& name) {
        return entry.where.empty() ? "--" + name + " of clip " + Quoted(entry.path)
                                   : entry.where + "." + name;
    };
    auto point = [&](const std::string& name) {
        return entry.where.empty() ? bare(name) : Where(bare(name));
    };
    clip.options.stillSeconds = settings.stillSeconds.value_or(defaults::kStillSeconds);
    if (info.still) {
        if (entry.in || entry.out) {
            error->text = point(entry.in ? "in" : "out") +
                          ": a still image has no in or out point; say how long it is shown (" +
                          (entry.where.empty() ? "--still-duration" : "\"duration\"") + ")";
            return false;
        }
        if (entry.duration) clip.options.stillSeconds = *entry.duration;
    } else {
        if (entry.duration) {
            error->text =
                point("duration") +
                ": only a still image has a duration; trim a movie with \"in\" and \"out\"";
            return false;
        }
        const double rate = info.fps.Value();
        const double in = entry.in ? entry.in->Seconds(rate) : 0.0;
        const double out = entry.out ? entry.out->Seconds(rate) : info.seconds;
        if (in >= info.seconds) {
            error->text = point("in") + ": " + Clock(in) + " is not before the clip's end (" +
                          Clock(info.seconds) + ")";
            return false;
        }
        if (out <= in) {
            error->text = point("out") + ": " +
                          (entry.in ? "not after " + bare("in") : "at the start") + " (" +
                          Clock(out) + ", in at " + Clock(in) + ")";
            return false;
        }
        if (out > info.seconds + 1.0 / rate) {
            error->text = point("out") + ": " + Clock(out) + " is past the clip's end (" +
                          Clock(info.seconds) + ")";
            return false;
        }
        // An in point within the last picture gives that picture.
        clip.options.inSeconds = std::min(in, std::max(0.0, info.seconds - 1.0 / rate));
        clip.options.outSeconds = entry.out ? out : -1.0;
    }
    clip.frames = media::OutputFrames(info, clip.options);
    return true;
}

// The output takes the first clip's display size (square pixels, turned
// upright), made even for the encoder by a black edge, and its rate.
void SequencePlan::ChooseFormat() {
    const media::ClipInfo& first = clips[0].info;
    format.fps = settings.rate.value_or(first.fps);
    // The first clip's sound format, where the output's encoder takes it.
    format.sound = media::SoundFormatFor(target.Webm() ? "webm" : "", first.sound);
    int w = settings.width > 0 ? settings.width : first.width;
    int h = settings.height > 0 ? settings.height : first.height;
    format.width = std::min(w + (w & 1), defaults::kSizeMax);
    format.height = std::min(h + (h & 1), defaults::kSizeMax);
    // The matrix players assume for this size: BT.709 from 720 lines up, BT.601 below.
    matrix = media::OutputMatrix(format.height);
}

}  // namespace tavhost
