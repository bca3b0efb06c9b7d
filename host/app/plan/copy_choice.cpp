#include "copy_choice.h"

#include <algorithm>
#include <cmath>

#include "movie_writer.h"

namespace tavhost {

namespace {

using media::PacketEntry;
using media::PacketIndex;

std::string Rate(media::Rational r) {
    char text[32];
    std::snprintf(text, sizeof text, "%g fps", r.Value());
    return text;
}

// Names that mean the same: BT.601's matrix is given as bt470bg or
// smpte170m; BT.709, SMPTE 170M and BT.2020 share one transfer curve.
std::string SameMatrix(const std::string& name) {
    return name == "bt470bg" ? "smpte170m" : name;
}
std::string SameCurve(const std::string& name) {
    return name == "smpte170m" || name == "bt2020-10" || name == "bt2020-12" ? "bt709" : name;
}

// Why a clip's colour description is not the output's; empty if it is.
std::string ColourMismatch(const media::ColourTags& tags, const CopyTarget& target) {
    const media::ColourTags want = media::OutputColourTags(target.matrix);
    const struct {
        const char* what;
        bool same;
        const std::string &have, &wanted;
    } parts[] = {
        {"primaries", tags.primaries == want.primaries, tags.primaries, want.primaries},
        {"transfer", SameCurve(tags.transfer) == SameCurve(want.transfer), tags.transfer,
         want.transfer},
        {"matrix", SameMatrix(tags.matrix) == SameMatrix(want.matrix), tags.matrix, want.matrix},
        {"range", tags.range == want.range, tags.range, want.range}};
    for (const auto& p : parts)
        if (!p.same)
            return p.have == "unknown" ? std::string("its colour ") + p.what +
                                             " is not tagged; the output's is " + p.wanted
                                       : std::string("its colour ") + p.what + " is " + p.have +
                                             ", the output's " + p.wanted;
    return "";
}

// Why a clip's stream is not what the output's encoder writes; empty if it is.
std::string Mismatch(const CopyCandidate& c, const CopyTarget& target) {
    const media::ClipInfo& info = *c.info;
    const PacketIndex& index = *c.index;
    if (info.still) return "it is a still picture";
    if (index.codec != "h264") return "it is " + index.codec + ", not H.264";
    if (index.pixFormat != "yuv420p") return "its pixels are " + index.pixFormat + ", not yuv420p";
    if (index.width != target.format.width || index.height != target.format.height)
        return "its picture is " + std::to_string(index.width) + "x" +
               std::to_string(index.height) + ", the output's " +
               std::to_string(target.format.width) + "x" + std::to_string(target.format.height);
    if (!index.squarePixels) return "its pixels are not square";
    if (info.rotation != 0 || !info.upright.empty()) return "it is turned for display";
    if (info.interlaced) return "it is interlaced";
    const std::string matrix = media::MatrixName(target.matrix);
    if (info.matrix != matrix || info.range != "limited")
        return "its colours are " + info.matrix + " " + info.range + " range, the output's " +
               matrix + " limited range";
    // The copied pictures keep their own colour description beside the
    // encoded ones': players would show the two differently unless they agree.
    if (const std::string why = ColourMismatch(info.tags, target); !why.empty()) return why;
    if (info.fps.num * int64_t(target.format.fps.den) !=
        target.format.fps.num * int64_t(info.fps.den))
        return "it runs at " + Rate(info.fps) + ", the output at " + Rate(target.format.fps);
    if (info.damage.Any()) return "it is damaged";
    if (index.unreadable) return "its packets cannot be read unit by unit";
    if (index.setsChange) return "it changes its parameter sets within the stream";
    if (index.sets.sps.empty() || index.sets.pps.empty()) return "its parameter sets are missing";
    if (index.noTimes) return "some of its packets have no timestamps";
    return "";
}

// A clip's packets on the reader's frame numbering, and the places where a
// copy may start or end: before an IDR picture that every later packet
// follows in time and every earlier one precedes.
struct Cuts {
    std::vector<size_t> packet;  // index entry of each picture, in decode order
    std::vector<int64_t> frame;  // its reader frame
    std::vector<size_t> at;      // decode positions that are cuts, the end included
    int64_t first = 0;           // the earliest reader frame
    std::string problem;
};

Cuts FindCuts(const CopyCandidate& c, const CopyTarget& target, int64_t readingStart) {
    const PacketIndex& index = *c.index;
    Cuts cuts;
    size_t lead = 0;  // pictures up to the last discarded one cannot be cut before
    for (size_t i = 0; i < index.packets.size(); ++i) {
        const PacketEntry& e = index.packets[i];
        if (e.discard) {
            lead = cuts.packet.size();
            continue;
        }
        cuts.packet.push_back(i);
        cuts.frame.push_back(media::ClipFrameAt(e.pts, readingStart, index.timeBaseNum,
                                                index.timeBaseDen, target.format.fps));
    }
    if (cuts.frame.empty()) {
        cuts.problem = "it has no pictures to copy";
        return cuts;
    }
    // One picture for every frame, evenly timed: each timestamp within a
    // quarter frame of its frame's time, no frame twice, none missing.
    const double frameTicks = double(index.timeBaseDen) * target.format.fps.den /
                              (double(index.timeBaseNum) * target.format.fps.num);
    std::vector<int64_t> sorted = cuts.frame;
    std::sort(sorted.begin(), sorted.end());
    for (size_t i = 0; i < sorted.size(); ++i) {
        const PacketEntry& e = index.packets[cuts.packet[i]];
        const double exact = double(readingStart) + double(cuts.frame[i]) * frameTicks;
        if (std::abs(double(e.pts) - exact) > frameTicks / 4 ||
            (i > 0 && sorted[i] != sorted[i - 1] + 1)) {
            cuts.problem = "its pictures are not evenly timed at " + Rate(target.format.fps);
            return cuts;
        }
    }
    cuts.first = sorted.front();
    int64_t latest = cuts.first - 1;  // the latest frame of the pictures decoded so far
    for (size_t d = 0; d < cuts.frame.size(); ++d) {
        if (d >= lead && index.packets[cuts.packet[d]].idr && latest == cuts.first + int64_t(d) - 1)
            cuts.at.push_back(d);
        latest = std::max(latest, cuts.frame[d]);
    }
    cuts.at.push_back(cuts.frame.size());
    return cuts;
}

}  // namespace

CopyPlan PlanCopies(const std::vector<CopyCandidate>& clips, const Timeline& timeline,
                    const CopyTarget& target, std::vector<std::string>* notes) {
    CopyPlan plan;
    bool haveSets = false;
    std::string setsFrom;
    for (size_t j = 0; j < clips.size(); ++j) {
        const CopyCandidate& c = clips[j];
        auto fallBack = [&](const std::string& why) {
            notes->push_back(c.label + " is encoded again, not copied: " + why);
        };
        std::string why = c.index ? Mismatch(c, target) : "it was not scanned";
        if (!why.empty()) {
            fallBack(why);
            continue;
        }
        // The decoded-picture buffer its SPS keeps, which the encoded spans
        // beside it must keep too; every SPS of the stream alike.
        media::h264::DpbNeeds needs;
        bool readable = !c.index->sets.sps.empty();
        for (size_t k = 0; readable && k < c.index->sets.sps.size(); ++k) {
            const media::h264::Bytes& sps = c.index->sets.sps[k];
            media::h264::DpbNeeds one;
            readable = media::h264::ReadDpbNeeds({sps.data(), sps.size()}, &one) &&
                       (k == 0 || one == needs);
            needs = one;
        }
        if (!readable) {
            fallBack("its SPS cannot be read, or its SPSs keep different picture buffers");
            continue;
        }
        if (haveSets && !(c.index->sets == plan.sets)) {
            fallBack("its encoder's settings differ from " + setsFrom + "'s, which is copied");
            continue;
        }
        // The clip's frames outside every transition, on the reader's numbering.
        int64_t from = timeline.clipStart[j], to = from + timeline.clipFrames[j];
        if (j > 0) from = std::max(from, timeline.cut[j - 1]);
        if (j < timeline.cut.size()) to = std::min(to, timeline.cut[j]);
        for (const Placement& p : timeline.transitions) {
            if (p.start + p.frames <= from || p.start >= to) continue;
            // A transition splits the clip's frames: keep the longer side.
            if (p.start - from >= to - (p.start + p.frames))
                to = p.start;
            else
                from = p.start + p.frames;
        }
        if (to <= from) {
            fallBack("all of it lies under transitions");
            continue;
        }
        const int64_t k0 = from - timeline.clipStart[j], k1 = to - timeline.clipStart[j];
        const int64_t readingStart = media::ReadingStart(
            c.index->origin, c.info->still ? 0.0 : std::max(0.0, c.options->inSeconds),
            c.index->timeBaseNum, c.index->timeBaseDen);
        const Cuts cuts = FindCuts(c, target, readingStart);
        if (!cuts.problem.empty()) {
            fallBack(cuts.problem);
            continue;
        }
        // The first cut at or after the run's start, the last at or before its end.
        size_t a = SIZE_MAX, b = SIZE_MAX;
        for (size_t d : cuts.at) {
            const int64_t frame = cuts.first + int64_t(d);
            if (a == SIZE_MAX && frame >= k0) a = d;
            if (frame <= k1) b = d;
        }
        if (a == SIZE_MAX || b == SIZE_MAX || b <= a) {
            // A stream with no IDR picture after its first (open groups of
            // pictures, intra refresh) can be cut nowhere: say that.
            size_t idrs = 0;
            for (const size_t p : cuts.packet) idrs += c.index->packets[p].idr ? 1 : 0;
            fallBack(idrs <= 1 ? "it has no IDR picture after its first (open groups of pictures "
                                 "or intra refresh), so it cannot be cut"
                               : "no group of pictures lies wholly outside the transitions");
            continue;
        }
        CopySegment s;
        s.clip = int(j);
        s.start = timeline.clipStart[j] + cuts.first + int64_t(a);
        s.frames = int64_t(b - a);
        s.firstPacket = cuts.packet[a];
        s.endPacket = cuts.packet[b - 1] + 1;
        s.readingStart = readingStart;
        s.offset = timeline.clipStart[j];
        for (size_t d = a; d < b; ++d)
            plan.reorderDelay =
                std::max<int>(plan.reorderDelay, int(int64_t(d) - (cuts.frame[d] - cuts.first)));
        plan.segments.push_back(s);
        if (!haveSets) {
            plan.sets = c.index->sets;
            plan.dpb = needs;
            setsFrom = c.label;
            haveSets = true;
        }
    }
    // The movie's avcC record lists at most 31 SPS and 255 PPS: the
    // encoder's one of each must fit beside the clips'.
    if (!plan.segments.empty() && (plan.sets.sps.size() >= 31 || plan.sets.pps.size() >= 255)) {
        notes->push_back("the clips carry " + std::to_string(plan.sets.sps.size()) + " SPS and " +
                         std::to_string(plan.sets.pps.size()) +
                         " PPS, leaving the movie's record no room for the encoder's: every "
                         "frame is encoded");
        plan.segments.clear();
        return plan;
    }
    while (plan.encoderSetId < 31 && plan.sets.Uses(plan.encoderSetId)) ++plan.encoderSetId;
    if (!plan.segments.empty() && plan.sets.Uses(plan.encoderSetId)) {
        notes->push_back(
            "the clips use every parameter-set id, leaving none for the encoder's: "
            "every frame is encoded");
        plan.segments.clear();
    }
    return plan;
}

}  // namespace tavhost
