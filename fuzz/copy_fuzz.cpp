// Fuzzes the copy path: clips' packets made of any NAL units (parameter sets
// of any ids, IDR and other slices, bytes that do not split) at any
// timestamps, through the real packet index, laid out with transitions by the
// real placement and planned by the real copy planner. Every plan must be one
// the writer can carry out:
//  - a copied run starts at an IDR picture and holds one picture per frame,
//    each frame of the run once, in decode order within its clip;
//  - runs are in output order, never overlap each other or a transition;
//  - the movie's avcC record has room for the encoder's SPS and PPS and a
//    free id for them, and lists every set side by side without a clash.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "copy_choice.h"
#include "h264_units.h"
#include "movie_writer.h"
#include "packet_index.h"
#include "placement.h"

namespace {

namespace h264 = tavhost::media::h264;

[[noreturn]] void Broken(const char* contract, const std::string& detail = "") {
    std::fprintf(stderr, "contract broken: %s %s\n", contract, detail.c_str());
    std::abort();
}

void Ue(std::vector<bool>& bits, uint32_t v) {
    const int n = 32 - __builtin_clz(v + 1);
    for (int i = 0; i < n - 1; ++i) bits.push_back(false);
    for (int i = n - 1; i >= 0; --i) bits.push_back(((v + 1) >> i) & 1);
}

h264::Bytes Pack(uint8_t header, std::vector<bool> bits) {
    bits.push_back(true);
    while (bits.size() % 8) bits.push_back(false);
    h264::Bytes out = {header};
    for (size_t i = 0; i < bits.size(); i += 8) {
        uint8_t b = 0;
        for (size_t k = 0; k < 8; ++k) b = uint8_t(b << 1 | bits[i + k]);
        const size_t n = out.size();
        if (n >= 3 && out[n - 1] == 0 && out[n - 2] == 0 && b <= 3) out.push_back(3);
        out.push_back(b);
    }
    return out;
}

// A baseline SPS under `id` keeping `refs` reference frames.
h264::Bytes Sps(uint32_t id, uint32_t refs) {
    std::vector<bool> bits;
    for (int i = 7; i >= 0; --i) bits.push_back((66 >> i) & 1);
    for (int i = 0; i < 8; ++i) bits.push_back(false);
    for (int i = 7; i >= 0; --i) bits.push_back((30 >> i) & 1);
    Ue(bits, id);
    Ue(bits, 0);
    Ue(bits, 2);
    Ue(bits, refs);
    bits.push_back(false);
    Ue(bits, 9);
    Ue(bits, 5);
    for (bool b : {true, true, false, false}) bits.push_back(b);  // no VUI
    return Pack(0x67, bits);
}

h264::Bytes Pps(uint32_t id, uint32_t sps) {
    std::vector<bool> bits;
    Ue(bits, id);
    Ue(bits, sps);
    return Pack(0x68, bits);
}

// One packet: units with 4-byte lengths, or (now and then) bytes that do not split.
std::vector<uint8_t> Packet(FuzzedDataProvider& in, bool idr) {
    std::vector<uint8_t> out;
    auto put = [&](const h264::Bytes& unit) {
        h264::AppendWithLength({unit.data(), unit.size()}, &out);
    };
    for (int n = in.ConsumeIntegralInRange(0, 2); n > 0; --n) {
        const uint32_t id = in.ConsumeIntegralInRange<uint32_t>(0, 40);
        if (in.ConsumeBool())
            put(Sps(id, in.ConsumeIntegralInRange<uint32_t>(0, 17)));
        else
            put(Pps(id * 7 % 260, id % 33));
    }
    put({uint8_t(idr ? 0x65 : 0x41), 0x88, 0x84});
    if (in.ConsumeIntegralInRange(0, 40) == 0) out.resize(out.size() + 2, 0xff);
    return out;
}

struct Clip {
    tavhost::media::ClipInfo info;
    tavhost::media::ClipReader::Options options;
    tavhost::media::PacketIndex index;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const tavhost::media::Rational fps{30, 1};
    const int clipCount = in.ConsumeIntegralInRange(1, 4);
    std::vector<Clip> clips(static_cast<size_t>(clipCount));
    std::vector<int64_t> frames;
    for (Clip& c : clips) {
        c.info.fps = fps;
        c.info.matrix = "bt601";
        c.info.range = "limited";
        c.info.tags = tavhost::media::OutputColourTags(tavhost::media::Matrix::kBt601);
        c.index.codec = "h264";
        c.index.pixFormat = "yuv420p";
        c.index.width = 160;
        c.index.height = 96;
        c.index.timeBaseDen = 30 * 512;
        c.index.sets.lengthSize = 4;
        c.index.origin = in.ConsumeIntegralInRange<int64_t>(-2000, 2000);
        c.options.inSeconds = in.ConsumeBool() ? 0.0 : in.ConsumeIntegralInRange(0, 60) / 30.0;
        // Pictures in groups, each P picture sent ahead of the B pictures shown before it.
        const int count = in.ConsumeIntegralInRange(1, 150);
        const int gop = in.ConsumeIntegralInRange(1, 40), bframes = in.ConsumeIntegralInRange(0, 3);
        std::vector<int> order;
        for (int g = 0; g < count; g += gop) {
            const int end = std::min(count, g + gop);
            order.push_back(g);
            for (int p = g + 1; p < end; p += bframes + 1) {
                const int last = std::min(end - 1, p + bframes);
                order.push_back(last);
                for (int b = p; b < last; ++b) order.push_back(b);
            }
        }
        const bool openGop = in.ConsumeIntegralInRange(0, 5) == 0;
        for (size_t d = 0; d < order.size(); ++d) {
            int64_t pts = c.index.origin + int64_t(order[size_t(d)]) * 512;
            if (in.ConsumeIntegralInRange(0, 30) == 0) pts += in.ConsumeIntegralInRange(-600, 600);
            const bool idr = order[d] % gop == 0 && (!openGop || order[d] == 0);
            const std::vector<uint8_t> packet = Packet(in, idr);
            c.index.Add(packet.data(), int(packet.size()), pts, int64_t(d) * 512,
                        in.ConsumeIntegralInRange(0, 40) == 0);
        }
        c.info.frames = count;
        c.info.seconds = count / 30.0;
        frames.push_back(std::max<int64_t>(1, count - std::llround(c.options.inSeconds * 30)));
    }
    tavhost::TransitionRequests requests;
    requests.joins.resize(size_t(clipCount - 1));
    for (auto& join : requests.joins) {
        if (!in.ConsumeBool()) continue;
        join.emplace();
        join->timing.type = kPluginTransitionBetweenType;
        join->timing.frames = in.ConsumeIntegralInRange(1, 60);
        join->timing.takeBefore = join->timing.takeAfter = join->timing.frames;
        join->name = "join";
    }
    tavhost::Timeline timeline;
    std::vector<std::string> warnings;
    std::string error;
    if (!tavhost::LayOut(frames, requests, &timeline, &warnings, &error)) return 0;

    std::vector<tavhost::CopyCandidate> candidates;
    for (size_t j = 0; j < clips.size(); ++j)
        candidates.push_back(
            {"clip " + std::to_string(j), &clips[j].info, &clips[j].options, &clips[j].index});
    std::vector<std::string> notes;
    const tavhost::CopyPlan plan =
        tavhost::PlanCopies(candidates, timeline,
                            tavhost::CopyTarget{{.width = 160, .height = 96, .fps = fps},
                                                tavhost::media::Matrix::kBt601},
                            &notes);

    int64_t endOfLast = INT64_MIN;
    for (const tavhost::CopySegment& s : plan.segments) {
        if (s.clip < 0 || size_t(s.clip) >= clips.size()) Broken("a run names a clip");
        const tavhost::media::PacketIndex& index = clips[size_t(s.clip)].index;
        if (s.frames < 1 || s.firstPacket >= s.endPacket || s.endPacket > index.packets.size())
            Broken("a run holds packets");
        if (!index.packets[s.firstPacket].idr || index.packets[s.firstPacket].discard)
            Broken("a run starts at an IDR picture");
        if (s.start < endOfLast) Broken("runs in output order, apart");
        endOfLast = s.start + s.frames;
        if (s.start < 0 || endOfLast > timeline.total) Broken("a run lies on the timeline");
        for (const tavhost::Placement& p : timeline.transitions)
            if (s.start < p.start + p.frames && p.start < endOfLast)
                Broken("a run lies outside every transition");
        std::vector<int64_t> shown;
        for (size_t k = s.firstPacket; k < s.endPacket; ++k) {
            if (index.packets[k].discard) continue;
            shown.push_back(tavhost::media::ClipFrameAt(index.packets[k].pts, s.readingStart,
                                                        index.timeBaseNum, index.timeBaseDen, fps) +
                            s.offset);
        }
        if (int64_t(shown.size()) != s.frames) Broken("one picture per frame");
        std::sort(shown.begin(), shown.end());
        for (size_t i = 0; i < shown.size(); ++i)
            if (shown[i] != s.start + int64_t(i)) Broken("each frame of a run once");
    }
    if (!plan.segments.empty()) {
        if (plan.sets.sps.size() >= 31 || plan.sets.pps.size() >= 255)
            Broken("the avcC has room for the encoder's sets");
        if (plan.encoderSetId < 0 || plan.encoderSetId > 31 || plan.sets.Uses(plan.encoderSetId))
            Broken("the encoder's id is free");
        if (plan.dpb.refFrames < 0) Broken("the copied buffer is known");
        h264::ParameterSets encoder;
        const h264::Bytes sps = Sps(uint32_t(plan.encoderSetId), 1),
                          pps = Pps(uint32_t(plan.encoderSetId), uint32_t(plan.encoderSetId));
        encoder.Add({sps.data(), sps.size()});
        encoder.Add({pps.data(), pps.size()});
        const h264::Bytes ours = h264::AvcConfig(encoder);
        const h264::Bytes both = h264::CombinedConfig(ours.data(), ours.size(), plan.sets);
        h264::ParameterSets back;
        if (both.empty() || !h264::ReadExtradata(both.data(), both.size(), &back) ||
            back.sps.size() != plan.sets.sps.size() + 1 ||
            back.pps.size() != plan.sets.pps.size() + 1)
            Broken("the combined avcC lists every set");
    }
    return 0;
}
