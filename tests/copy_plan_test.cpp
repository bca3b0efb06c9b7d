// Copying unchanged pictures, planned on made-up packet streams: NAL units and
// parameter sets, where the copies may start and end, which clips cannot be
// copied and why.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "copy_choice.h"
#include "h264_units.h"
#include "movie_writer.h"
#include "picture_convert.h"

namespace tavtest {
namespace {

using tavhost::CopyCandidate;
using tavhost::CopyPlan;
using tavhost::CopyTarget;
using tavhost::Placement;
using tavhost::Timeline;
using tavhost::media::PacketEntry;
using tavhost::media::PacketIndex;
namespace h264 = tavhost::media::h264;

// Bits of a NAL unit, most significant first, with emulation prevention.
class BitWriter {
  public:
    void Put(uint32_t value, int bits) {
        while (bits-- > 0) {
            current_ = uint8_t(current_ << 1 | ((value >> bits) & 1));
            if (++used_ == 8) Flush();
        }
    }
    void Ue(uint32_t value) {
        const int bits = 32 - __builtin_clz(value + 1);
        Put(0, bits - 1);
        Put(value + 1, bits);
    }
    h264::Bytes Done() {
        Put(1, 1);  // the stop bit
        while (used_ != 0) Put(0, 1);
        return out_;
    }

  private:
    void Flush() {
        const size_t n = out_.size();
        if (n >= 3 && out_[n - 1] == 0 && out_[n - 2] == 0 && current_ <= 3) out_.push_back(3);
        out_.push_back(current_);
        current_ = 0;
        used_ = 0;
    }
    h264::Bytes out_;
    uint8_t current_ = 0;
    int used_ = 0;
};

// The HRD parameters of `cpbs` coded picture buffers, each with its own rate
// and size, as broadcast encoders write them.
void PutHrd(BitWriter& b, int cpbs) {
    b.Ue(uint32_t(cpbs - 1));
    b.Put(0x42, 8);  // bit_rate_scale, cpb_size_scale
    for (int k = 0; k < cpbs; ++k) {
        b.Ue(uint32_t(1000 * (k + 1) + 37));  // bit_rate_value_minus1
        b.Ue(uint32_t(3000 * (k + 1) + 5));   // cpb_size_value_minus1
        b.Put(uint32_t(k & 1), 1);            // cbr_flag
    }
    b.Put(23, 5);  // initial_cpb_removal_delay_length_minus1
    b.Put(23, 5);  // cpb_removal_delay_length_minus1
    b.Put(23, 5);  // dpb_output_delay_length_minus1
    b.Put(24, 5);  // time_offset_length
}

// An SPS of a 160x96 stream (level 3.1, 4:2:0 8-bit): its id, the reference
// frames and pictures buffered it keeps (`buffering` -1: no bitstream
// restriction, the level's buffer), its profile, and the coded picture
// buffers of its NAL and VCL HRD parameters (0: none).
h264::Bytes Sps(uint32_t id, int refs = 4, int buffering = 4, int profile = 100, int nalCpbs = 0,
                int vclCpbs = 0) {
    BitWriter b;
    b.Put(0x67, 8);
    b.Put(uint32_t(profile), 8);
    b.Put(0, 8);
    b.Put(31, 8);
    b.Ue(id);
    if (profile == 100) {
        b.Ue(1);      // chroma format
        b.Ue(0);      // luma depth - 8
        b.Ue(0);      // chroma depth - 8
        b.Put(0, 2);  // no bypass, no scaling matrices
    }
    b.Ue(0);  // log2_max_frame_num - 4
    b.Ue(2);  // picture order by frame number
    b.Ue(uint32_t(refs));
    b.Put(0, 1);
    b.Ue(9);          // 160 / 16 - 1
    b.Ue(5);          // 96 / 16 - 1
    b.Put(0b110, 3);  // frames only, direct 8x8, no cropping
    b.Put(1, 1);      // VUI
    b.Put(0, 4);      // no aspect, overscan, signal, chroma site
    b.Put(1, 1);      // timing
    b.Put(1001, 32);
    b.Put(60000, 32);
    b.Put(1, 1);  // fixed frame rate
    b.Put(nalCpbs > 0, 1);
    if (nalCpbs > 0) PutHrd(b, nalCpbs);
    b.Put(vclCpbs > 0, 1);
    if (vclCpbs > 0) PutHrd(b, vclCpbs);
    if (nalCpbs > 0 || vclCpbs > 0) b.Put(0, 1);  // low_delay_hrd_flag
    b.Put(0, 1);                                  // no pic_struct
    b.Put(buffering >= 0, 1);
    if (buffering >= 0) {
        b.Put(1, 1);
        for (uint32_t v : {0u, 0u, 16u, 16u, 2u}) b.Ue(v);
        b.Ue(uint32_t(buffering));
    }
    return b.Done();
}

const h264::Bytes kSps = Sps(0);
const h264::Bytes kPps = {0x68, 0xee, 0x3c, 0x80};  // id 0

h264::Unit U(const h264::Bytes& b) {
    return {b.data(), b.size()};
}

// --- NAL units ---

TEST(H264Units, SplitsLengthPrefixedAndAnnexBPackets) {
    const h264::Bytes lengths = {0, 0, 0, 2, 0x65, 0xaa, 0, 0, 0, 1, 0x06};
    std::vector<h264::Unit> units;
    ASSERT_TRUE(h264::Split(lengths.data(), lengths.size(), 4, &units));
    ASSERT_EQ(units.size(), 2u);
    EXPECT_EQ(units[0].Type(), h264::kIdrSlice);
    EXPECT_EQ(units[1].size, 1u);
    const h264::Bytes shortLengths = {0, 2, 0x41, 0xbb, 0, 1, 0x09};
    ASSERT_TRUE(h264::Split(shortLengths.data(), shortLengths.size(), 2, &units));
    EXPECT_EQ(units.size(), 2u);
    // A length past the end is refused, not read beyond the packet.
    const h264::Bytes cut = {0, 0, 0, 9, 0x65, 0xaa};
    EXPECT_FALSE(h264::Split(cut.data(), cut.size(), 4, &units));
    // Annex B: 4- and 3-byte start codes; trailing zeros are not part of a unit.
    const h264::Bytes annexB = {0, 0, 0, 1, 0x67, 1, 2, 0, 0, 0, 1, 0x68, 3, 0, 0, 1, 0x65, 4, 0};
    ASSERT_TRUE(h264::Split(annexB.data(), annexB.size(), 0, &units));
    ASSERT_EQ(units.size(), 3u);
    EXPECT_EQ(units[0].Type(), h264::kSps);
    EXPECT_EQ(units[0].size, 3u);
    EXPECT_EQ(units[1].size, 2u);
    EXPECT_EQ(units[2].size, 2u);
    h264::Bytes out;
    h264::AppendWithLength(units[2], &out);
    EXPECT_EQ(out, (h264::Bytes{0, 0, 0, 2, 0x65, 4}));
}

TEST(H264Units, ReadsParameterSetIds) {
    EXPECT_EQ(h264::ParameterSetId(U(kSps)), 0);
    EXPECT_EQ(h264::ParameterSetId(U(kPps)), 0);
    const h264::Bytes sps5 = {0x67, 66, 0, 30, 0b00110'100};  // ue 5
    const h264::Bytes pps2 = {0x68, 0b011'10000};             // ue 2
    EXPECT_EQ(h264::ParameterSetId(U(sps5)), 5);
    EXPECT_EQ(h264::ParameterSetId(U(pps2)), 2);
    const h264::Bytes slice = {0x65, 0x88};
    EXPECT_EQ(h264::ParameterSetId(U(slice)), -1);
    const h264::Bytes truncated = {0x67, 66, 0};
    EXPECT_EQ(h264::ParameterSetId(U(truncated)), -1);
}

struct DpbCase {
    int refs, buffering, profile;
    int nalCpbs = 0, vclCpbs = 0;
};

void PrintTo(const DpbCase& c, std::ostream* os) {
    *os << "refs " << c.refs << ", buffering " << c.buffering << ", profile " << c.profile
        << ", CPBs " << c.nalCpbs << " NAL " << c.vclCpbs << " VCL";
}

class DpbNeeds : public ::testing::TestWithParam<DpbCase> {};

TEST_P(DpbNeeds, ReadFromTheSps) {
    const DpbCase& c = GetParam();
    const h264::Bytes sps = Sps(3, c.refs, c.buffering, c.profile, c.nalCpbs, c.vclCpbs);
    h264::DpbNeeds needs;
    ASSERT_TRUE(h264::ReadDpbNeeds(U(sps), &needs));
    EXPECT_EQ(needs.refFrames, c.refs);
    EXPECT_EQ(needs.decodeBuffering, c.buffering);
    EXPECT_EQ(needs.profile, c.profile);
    EXPECT_EQ(needs.level, 31);
    // Cut anywhere before its end, it cannot be read.
    for (size_t n = 1; n + 2 < sps.size(); ++n)
        EXPECT_FALSE(h264::ReadDpbNeeds({sps.data(), n}, &needs)) << n;
}

INSTANTIATE_TEST_SUITE_P(Sets, DpbNeeds,
                         ::testing::Values(DpbCase{1, 1, 66}, DpbCase{4, 4, 100},
                                           DpbCase{3, 4, 100}, DpbCase{16, 16, 77},
                                           DpbCase{2, -1, 66}));
// HRD parameters, as broadcast cameras and x264's nal-hrd write them: one or
// more buffers, NAL, VCL or both; what follows them is read all the same.
INSTANTIATE_TEST_SUITE_P(Hrd, DpbNeeds,
                         ::testing::Values(DpbCase{4, 4, 100, 1, 0}, DpbCase{3, 3, 100, 0, 1},
                                           DpbCase{2, 2, 77, 2, 2}, DpbCase{1, 1, 66, 3, 1},
                                           DpbCase{5, 5, 100, 32, 0}));

TEST(H264Units, ReadsTheBufferOfARealEncodersSps) {
    // x264's SPS for 160x96 at 30 fps, one reference frame, no B pictures.
    const h264::Bytes x264 = {0x67, 0x64, 0x00, 0x0b, 0xac, 0xd9, 0x42, 0x8d,
                              0xb0, 0x11, 0x00, 0x00, 0x03, 0x00, 0x01, 0x00,
                              0x00, 0x03, 0x00, 0x3c, 0x0f, 0x14, 0x29, 0x96};
    h264::DpbNeeds needs;
    ASSERT_TRUE(h264::ReadDpbNeeds(U(x264), &needs));
    EXPECT_EQ(needs.profile, 100);
    EXPECT_EQ(needs.level, 11);
    EXPECT_GE(needs.refFrames, 1);
}

TEST(H264Units, ReadsTheBufferOfAnSpsWithHrdParameters) {
    // x264's SPS for 160x96 at 30 fps with nal-hrd=vbr (300 kb/s, a 600 kb
    // buffer): four reference frames, four pictures buffered.
    const h264::Bytes x264 = {0x67, 0x64, 0x00, 0x0c, 0xac, 0xd9, 0x42, 0x8d, 0xb0,
                              0x11, 0x00, 0x00, 0x03, 0x00, 0x01, 0x00, 0x00, 0x03,
                              0x00, 0x3c, 0x60, 0x40, 0x01, 0x24, 0xf0, 0x00, 0x49,
                              0x3e, 0x9b, 0x0c, 0x01, 0xe2, 0x85, 0x32, 0xc0};
    h264::DpbNeeds needs;
    ASSERT_TRUE(h264::ReadDpbNeeds(U(x264), &needs));
    EXPECT_EQ(needs.level, 12);
    EXPECT_EQ(needs.refFrames, 4);
    EXPECT_EQ(needs.decodeBuffering, 4);
}

TEST(H264Units, AvcConfigListsEverySetAndReadsBack) {
    h264::ParameterSets sets;
    const h264::Bytes sps1 = {0x67, 77, 0x40, 40, 0b010'00000};  // main profile, id 1
    const h264::Bytes pps1 = {0x68, 0b010'11000};                // id 1
    for (const h264::Bytes* b : {&kSps, &kPps, &sps1, &pps1}) ASSERT_TRUE(sets.Add(U(*b)));
    EXPECT_TRUE(sets.Add(U(kSps))) << "the same set twice is one set";
    EXPECT_TRUE(sets.Uses(1));
    EXPECT_FALSE(sets.Uses(2));
    const h264::Bytes config = h264::AvcConfig(sets);
    ASSERT_GE(config.size(), 7u);
    EXPECT_EQ(config[1], 100) << "the highest profile";
    EXPECT_EQ(config[3], 40) << "the highest level";
    EXPECT_EQ(config[4], 0xff) << "4-byte lengths";
    // High profile: chroma format 1 and 8-bit depths follow the sets.
    EXPECT_EQ(h264::Bytes(config.end() - 4, config.end()), (h264::Bytes{0xfd, 0xf8, 0xf8, 0}));
    h264::ParameterSets back;
    ASSERT_TRUE(h264::ReadExtradata(config.data(), config.size(), &back));
    EXPECT_TRUE(back == sets);
    EXPECT_EQ(back.lengthSize, 4);
    // Another SPS under a taken id is a change of sets.
    EXPECT_FALSE(sets.Add(U(Sps(0, 4, 4, 66))));
}

// --- Planning ---

constexpr int kTicks = 512;  // a frame at 30 fps in a 1/15360 time base

// A clip's packets as an encoder with B-frames writes them: groups of `gop`
// pictures opening with an IDR (or, with `openGop`, only the first), each
// P picture sent before the `bframes` B pictures shown ahead of it (with
// `pyramid`, the middle B first, as a reference for the others).
PacketIndex Stream(int frames, int gop, int bframes, bool openGop = false, bool pyramid = false) {
    PacketIndex index;
    index.codec = "h264";
    index.pixFormat = "yuv420p";
    index.width = 160;
    index.height = 96;
    index.timeBaseDen = 30 * kTicks;
    EXPECT_TRUE(index.sets.Add(U(kSps)));
    EXPECT_TRUE(index.sets.Add(U(kPps)));
    std::vector<int> order;
    for (int g = 0; g < frames; g += gop) {
        const int end = std::min(frames, g + gop);
        order.push_back(g);
        for (int p = g + 1; p < end; p += bframes + 1) {
            const int last = std::min(end - 1, p + bframes);
            order.push_back(last);
            const int middle = pyramid && last - p >= 2 ? (p + last - 1) / 2 : -1;
            if (middle >= 0) order.push_back(middle);
            for (int b = p; b < last; ++b)
                if (b != middle) order.push_back(b);
        }
    }
    for (size_t d = 0; d < order.size(); ++d) {
        PacketEntry e;
        e.pts = int64_t(order[d]) * kTicks;
        e.dts = (int64_t(d) - 1) * kTicks;
        e.idr = order[d] % gop == 0 && (!openGop || order[d] == 0);
        index.packets.push_back(e);
    }
    return index;
}

// Two clips joined by an N-frame transition that overlaps them by N.
Timeline Join(int64_t a, int64_t b, int32_t n) {
    Timeline t;
    t.clipFrames = {a, b};
    t.clipStart = {0, a - n};
    t.cut = {a - n / 2};
    t.total = a + b - n;
    Placement p;
    p.type = kPluginTransitionBetweenType;
    p.frames = n;
    p.before = p.after = n;
    p.start = a - n;
    t.transitions = {p};
    t.slots = {0};
    return t;
}

class CopyPlanning : public ::testing::Test {
  protected:
    CopyPlanning() : indexes_{Stream(90, 30, 2), Stream(90, 30, 2)} {
        for (auto& i : infos_) {
            i.fps = {30, 1};
            i.matrix = "bt601";
            i.range = "limited";
            i.tags = tavhost::media::OutputColourTags(tavhost::media::Matrix::kBt601);
        }
    }
    CopyPlan Plan(const Timeline& timeline, int width = 160, int height = 96) {
        std::vector<CopyCandidate> clips;
        for (size_t j = 0; j < 2; ++j)
            clips.push_back(
                {j == 0 ? "clip 'a'" : "clip 'b'", &infos_[j], &options_[j], &indexes_[j]});
        notes_.clear();
        return tavhost::PlanCopies(clips, timeline,
                                   CopyTarget{{.width = width, .height = height, .fps = {30, 1}},
                                              tavhost::media::OutputMatrix(height)},
                                   &notes_);
    }
    // Every copied packet lands on its segment's frames, each frame once.
    void ExpectPacketsFill(const CopyPlan& plan) {
        for (const tavhost::CopySegment& s : plan.segments) {
            std::vector<int64_t> frames;
            const PacketIndex& index = indexes_[size_t(s.clip)];
            for (size_t k = s.firstPacket; k < s.endPacket; ++k)
                frames.push_back(tavhost::media::ClipFrameAt(index.packets[k].pts, s.readingStart,
                                                             index.timeBaseNum, index.timeBaseDen,
                                                             {30, 1}) +
                                 s.offset);
            std::sort(frames.begin(), frames.end());
            ASSERT_EQ(int64_t(frames.size()), s.frames);
            for (size_t i = 0; i < frames.size(); ++i)
                EXPECT_EQ(frames[i], s.start + int64_t(i)) << "clip " << s.clip;
        }
    }

    tavhost::media::ClipInfo infos_[2];
    tavhost::media::ClipReader::Options options_[2];
    PacketIndex indexes_[2];
    std::vector<std::string> notes_;
};

TEST_F(CopyPlanning, WholeGroupsOutsideTheTransitionAreCopied) {
    // The transition covers output frames 70-89; b starts at 70.
    const CopyPlan plan = Plan(Join(90, 90, 20));
    EXPECT_TRUE(notes_.empty()) << notes_[0];
    ASSERT_EQ(plan.segments.size(), 2u);
    EXPECT_EQ(plan.segments[0].start, 0);
    EXPECT_EQ(plan.segments[0].frames, 60) << "a's group 60-89 holds transition frames";
    EXPECT_EQ(plan.segments[1].start, 70 + 30) << "b's first group after frame 20 of b";
    EXPECT_EQ(plan.segments[1].frames, 60);
    EXPECT_EQ(plan.CopiedFrames(), 120);
    EXPECT_EQ(plan.reorderDelay, 1) << "a P picture goes one ahead of its B pictures";
    EXPECT_NE(plan.encoderSetId, 0) << "id 0 is the clips'";
    ExpectPacketsFill(plan);
}

TEST_F(CopyPlanning, MillisecondTimestampsAreFramesAllTheSame) {
    for (PacketIndex& index : indexes_) {
        index.timeBaseDen = 1000;
        for (PacketEntry& e : index.packets) e.pts = (e.pts / kTicks * 1000 + 15) / 30;
    }
    const CopyPlan plan = Plan(Join(90, 90, 20));
    ASSERT_EQ(plan.segments.size(), 2u);
    EXPECT_EQ(plan.CopiedFrames(), 120);
    ExpectPacketsFill(plan);
}

TEST_F(CopyPlanning, AnInPointShiftsTheGroups) {
    options_[0].inSeconds = 0.5;  // a starts at its frame 15
    const CopyPlan plan = Plan(Join(75, 90, 20));
    ASSERT_FALSE(plan.segments.empty());
    const tavhost::CopySegment& s = plan.segments[0];
    EXPECT_EQ(s.start, 15) << "a's group at its frame 30 is output frame 15";
    EXPECT_EQ(s.frames, 30);
    EXPECT_EQ(indexes_[0].packets[s.firstPacket].pts, 30 * kTicks);
    ExpectPacketsFill(plan);
}

// A packet decoded only to lead up to the timeline (decode-only, never
// shown) right after an IDR picture: no run starts at or before it, so no run
// holds it, and the groups after it are still copied.
TEST_F(CopyPlanning, NoRunHoldsADecodeOnlyPacket) {
    for (const int idr : {30, 60, 90}) {
        indexes_[0] = Stream(150, 30, 2);
        auto& packets = indexes_[0].packets;
        const auto at = std::find_if(packets.begin(), packets.end(),
                                     [&](const PacketEntry& e) { return e.pts == idr * kTicks; });
        ASSERT_NE(at, packets.end());
        PacketEntry lead = *at;
        lead.idr = false;
        lead.discard = true;
        lead.pts -= kTicks / 2;
        packets.insert(at + 1, lead);
        for (size_t d = 0; d < packets.size(); ++d) packets[d].dts = (int64_t(d) - 1) * kTicks;

        const CopyPlan plan = Plan(Join(150, 90, 20));  // a's frames 130-149 under the transition
        bool copiedA = false;
        for (const tavhost::CopySegment& s : plan.segments) {
            if (s.clip != 0) continue;
            copiedA = true;
            for (size_t k = s.firstPacket; k < s.endPacket; ++k)
                EXPECT_FALSE(packets[k].discard) << "after IDR " << idr << ": packet " << k;
            EXPECT_GE(s.start, idr + 30) << "the first group after the decode-only packet";
            EXPECT_EQ(s.start + s.frames, 120);
        }
        // After IDR 90 the next group, 120-149, holds transition frames.
        EXPECT_EQ(copiedA, idr + 30 < 120) << "after IDR " << idr;
        ExpectPacketsFill(plan);
    }
}

TEST_F(CopyPlanning, OpenGroupsAreCutOnlyAtIdrPictures) {
    indexes_[0] = Stream(90, 30, 2, true);
    indexes_[1] = Stream(90, 30, 2, true);
    const CopyPlan plan = Plan(Join(90, 90, 20));
    EXPECT_TRUE(plan.segments.empty());
    ASSERT_EQ(notes_.size(), 2u);
    EXPECT_NE(notes_[0].find("it has no IDR picture after its first"), std::string::npos)
        << notes_[0];
}

TEST_F(CopyPlanning, PyramidReorderingIsMeasured) {
    // I0 P4 B2 b1 b3: b1 is decoded third and shown second.
    indexes_[1] = Stream(90, 30, 3, false, true);
    const CopyPlan plan = Plan(Join(90, 90, 20));
    ASSERT_EQ(plan.segments.size(), 2u);
    EXPECT_EQ(plan.reorderDelay, 2);
    ExpectPacketsFill(plan);
}

// Names that mean the same colours are the same: BT.601's matrix as
// bt470bg, the BT.709 transfer curve on an SD output.
TEST_F(CopyPlanning, EquivalentColourNamesAreCopied) {
    infos_[1].tags.matrix = "bt470bg";
    infos_[1].tags.transfer = "bt709";
    const CopyPlan plan = Plan(Join(90, 90, 20));
    EXPECT_TRUE(notes_.empty()) << notes_[0];
    EXPECT_EQ(plan.segments.size(), 2u);
    EXPECT_EQ(plan.dpb.refFrames, 4);
}

TEST_F(CopyPlanning, ClipsWithOtherSetsAreEncoded) {
    indexes_[1].sets = {};
    ASSERT_TRUE(indexes_[1].sets.Add(U(Sps(0, 4, 4, 77))));
    ASSERT_TRUE(indexes_[1].sets.Add(U(kPps)));
    const CopyPlan plan = Plan(Join(90, 90, 20));
    ASSERT_EQ(plan.segments.size(), 1u);
    EXPECT_EQ(plan.segments[0].clip, 0);
    ASSERT_EQ(notes_.size(), 1u);
    EXPECT_EQ(notes_[0],
              "clip 'b' is encoded again, not copied: its encoder's settings differ from clip "
              "'a''s, which is copied");
}

// The encoder needs an id of its own and room for its SPS and PPS in the
// movie's record (at most 31 SPS, 255 PPS): without them nothing is copied.
struct RoomCase {
    const char* name;
    uint32_t sps, pps;  // sets the clips carry, ids from 0 (PPS ids after the SPS ids)
    const char* says;
};

class NoRoom : public CopyPlanning, public ::testing::WithParamInterface<RoomCase> {};

TEST_P(NoRoom, MeansNoCopiesAndOneLine) {
    for (PacketIndex& index : indexes_) {
        index.sets = {};
        for (uint32_t id = 0; id < GetParam().sps; ++id) ASSERT_TRUE(index.sets.Add(U(Sps(id))));
        for (uint32_t k = 0; k < GetParam().pps; ++k) {
            BitWriter b;
            b.Put(0x68, 8);
            b.Ue(GetParam().sps + k);
            b.Ue(0);  // its SPS
            const h264::Bytes pps = b.Done();
            ASSERT_TRUE(index.sets.Add(U(pps)));
        }
    }
    const CopyPlan plan = Plan(Join(90, 90, 20));
    EXPECT_TRUE(plan.segments.empty());
    ASSERT_EQ(notes_.size(), 1u);
    EXPECT_NE(notes_[0].find(GetParam().says), std::string::npos) << notes_[0];
}

INSTANTIATE_TEST_SUITE_P(
    Sets, NoRoom,
    ::testing::Values(RoomCase{"sps31", 31, 1,
                               "31 SPS and 1 PPS, leaving the movie's record no room"},
                      RoomCase{"sps32", 32, 1, "no room"},
                      RoomCase{"pps255", 1, 255, "1 SPS and 255 PPS"},
                      RoomCase{"everyId", 16, 16, "every parameter-set id"}),
    [](const auto& info) { return std::string(info.param.name); });

// A clip encoded as the output is, at any size, is copied: the colour
// description it must carry follows the output's height (SD below 720 lines),
// whatever its width.
struct Size {
    int width, height;
};

void PrintTo(const Size& s, std::ostream* os) {
    *os << s.width << "x" << s.height;
}

class OutputSizes : public CopyPlanning, public ::testing::WithParamInterface<Size> {};

TEST_P(OutputSizes, ClipsTaggedAsTheOutputAreCopied) {
    const auto [width, height] = GetParam();
    for (size_t j = 0; j < 2; ++j) {
        indexes_[j].width = width;
        indexes_[j].height = height;
        infos_[j].matrix = tavhost::media::MatrixName(tavhost::media::OutputMatrix(height));
        infos_[j].tags = tavhost::media::OutputColourTags(tavhost::media::OutputMatrix(height));
    }
    const CopyPlan plan = Plan(Join(90, 90, 20), width, height);
    EXPECT_TRUE(notes_.empty()) << notes_[0];
    EXPECT_EQ(plan.segments.size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Sd, OutputSizes,
                         ::testing::Values(Size{854, 480}, Size{720, 576}, Size{1024, 576},
                                           Size{160, 96}));
INSTANTIATE_TEST_SUITE_P(Hd, OutputSizes,
                         ::testing::Values(Size{1280, 720}, Size{960, 720}, Size{1920, 1080}));

struct MismatchCase {
    const char* name;
    std::function<void(tavhost::media::ClipInfo&, PacketIndex&)> change;
    const char* reason;
};

void PrintTo(const MismatchCase& c, std::ostream* os) {
    *os << c.name;
}

class CopyMismatch : public CopyPlanning, public ::testing::WithParamInterface<MismatchCase> {};

TEST_P(CopyMismatch, OneLineSaysWhyAndTheOtherClipIsCopied) {
    GetParam().change(infos_[1], indexes_[1]);
    const CopyPlan plan = Plan(Join(90, 90, 20));
    ASSERT_EQ(notes_.size(), 1u);
    EXPECT_EQ(notes_[0],
              std::string("clip 'b' is encoded again, not copied: ") + GetParam().reason);
    ASSERT_EQ(plan.segments.size(), 1u);
    EXPECT_EQ(plan.segments[0].clip, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Clips, CopyMismatch,
    ::testing::Values(
        MismatchCase{"rate",
                     [](auto& i, auto&) {
                         i.fps = {25, 1};
                     },
                     "it runs at 25 fps, the output at 30 fps"},
        MismatchCase{"size", [](auto&, auto& x) { x.width = 320; },
                     "its picture is 320x96, the output's 160x96"},
        MismatchCase{"codec", [](auto&, auto& x) { x.codec = "mpeg4"; }, "it is mpeg4, not H.264"},
        MismatchCase{"pixels", [](auto&, auto& x) { x.pixFormat = "yuv422p"; },
                     "its pixels are yuv422p, not yuv420p"},
        MismatchCase{"colours", [](auto& i, auto&) { i.range = "full"; },
                     "its colours are bt601 full range, the output's bt601 limited range"},
        MismatchCase{"turned", [](auto& i, auto&) { i.rotation = 90; }, "it is turned for display"},
        MismatchCase{"damaged", [](auto& i, auto&) { i.damage.errors = 1; }, "it is damaged"},
        MismatchCase{"still", [](auto& i, auto&) { i.still = true; }, "it is a still picture"},
        MismatchCase{"setsChange", [](auto&, auto& x) { x.setsChange = true; },
                     "it changes its parameter sets within the stream"},
        MismatchCase{"missingPicture",
                     [](auto&, auto& x) { x.packets.erase(x.packets.begin() + 40); },
                     "its pictures are not evenly timed at 30 fps"},
        MismatchCase{"uneven", [](auto&, auto& x) { x.packets[50].pts += kTicks / 3; },
                     "its pictures are not evenly timed at 30 fps"},
        MismatchCase{"primaries", [](auto& i, auto&) { i.tags.primaries = "bt470bg"; },
                     "its colour primaries is bt470bg, the output's smpte170m"},
        MismatchCase{"hlg", [](auto& i, auto&) { i.tags.transfer = "arib-std-b67"; },
                     "its colour transfer is arib-std-b67, the output's smpte170m"},
        MismatchCase{"untagged", [](auto& i, auto&) { i.tags.primaries = "unknown"; },
                     "its colour primaries is not tagged; the output's is smpte170m"},
        MismatchCase{"rangeTag", [](auto& i, auto&) { i.tags.range = "unknown"; },
                     "its colour range is not tagged; the output's is tv"},
        MismatchCase{"sps",
                     [](auto&, auto& x) {
                         x.sets = {};
                         const h264::Bytes cut(kSps.begin(), kSps.begin() + 8);
                         x.sets.Add(U(cut));
                         x.sets.Add(U(kPps));
                     },
                     "its SPS cannot be read, or its SPSs keep different picture buffers"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tavtest
