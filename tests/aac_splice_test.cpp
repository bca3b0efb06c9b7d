// The AAC splice rules on their own: which blocks are copied, told block by
// block, and the stretch accounting and window reading checked against
// FFmpeg's own AAC encoder.
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "aac_splice.h"
#include "movie_format.h"

namespace tavtest {
namespace {

using tavhost::media::AacSplice;
using tavhost::media::AacWindow;
using tavhost::media::SpliceBlock;

constexpr int kSine = 0, kKbd = 1;
constexpr int kLong = 0, kLongStart = 1, kShort = 2, kLongStop = 3;

AacWindow W(int sequence, int shape = kKbd) {
    return {true, sequence, shape};
}

// A block far into the movie whose packet and the next are a clip's.
SpliceBlock Inside(AacWindow window, bool nextPacket = true) {
    SpliceBlock b;
    b.index = 40;
    b.packet = true;
    b.window = window;
    b.nextPacket = nextPacket;
    b.nextSameClip = nextPacket;
    b.nextWindow = W(kLong);
    return b;
}

// A case's description as a test name: its letters and digits.
std::string TestName(const char* description) {
    std::string name;
    for (const char* p = description; *p; ++p)
        if (std::isalnum(static_cast<unsigned char>(*p))) name += *p;
    return name;
}

struct Case {
    const char* name;
    SpliceBlock block;
    bool afterCopy;    // the block before it was copied
    int encoderShape;  // the shape of the encoder's long windows; -1 none seen yet
    bool copied;
};

std::ostream& operator<<(std::ostream& os, const Case& c) {
    return os << c.name;
}

SpliceBlock With(SpliceBlock b, void (*change)(SpliceBlock&)) {
    change(b);
    return b;
}

class SpliceRules : public ::testing::TestWithParam<Case> {};

TEST_P(SpliceRules, DecideTheBlockAsTheWindowsAllow) {
    const Case& c = GetParam();
    AacSplice splice;
    if (c.encoderShape >= 0) splice.Wrote(W(kLong, c.encoderShape));
    splice.Decided(c.afterCopy);
    EXPECT_EQ(splice.MayCopy(c.block), c.copied);
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, SpliceRules,
    ::testing::Values(
        Case{"a long packet of the encoder's shape after encoded sound", Inside(W(kLong)), false,
             kKbd, true},
        Case{"nothing before the encoder's shape is known", Inside(W(kLong)), false, -1, false},
        Case{"a long packet of the other shape", Inside(W(kLong, kSine)), false, kKbd, false},
        Case{"a short first half after encoded sound", Inside(W(kShort)), false, kKbd, false},
        Case{"a long-stop packet after encoded sound", Inside(W(kLongStop)), false, kKbd, false},
        Case{"anything between two copied packets", Inside(W(kShort, kSine)), true, kKbd, true},
        Case{"the first two blocks", With(Inside(W(kLong)), [](SpliceBlock& b) { b.index = 1; }),
             false, kKbd, false},
        Case{"the third block", With(Inside(W(kLong)), [](SpliceBlock& b) { b.index = 2; }), false,
             kKbd, true},
        Case{"a block without a packet",
             With(Inside(W(kLong)), [](SpliceBlock& b) { b.packet = false; }), false, kKbd, false},
        Case{"the movie's last blocks",
             With(Inside(W(kLong)), [](SpliceBlock& b) { b.ending = true; }), true, kKbd, false},
        Case{"undecoded sound, whatever its window",
             With(Inside(W(kShort, kSine)),
                  [](SpliceBlock& b) {
                      b.mustCopy = true;
                      b.ending = true;
                  }),
             false, kKbd, true},
        Case{"undecoded sound in the first blocks",
             With(Inside(W(kLong)),
                  [](SpliceBlock& b) {
                      b.mustCopy = true;
                      b.index = 0;
                  }),
             false, kKbd, false},
        Case{"before a splice, a long second half", Inside(W(kLong), false), true, kKbd, true},
        Case{"before a splice, a long-start packet", Inside(W(kLongStart), false), true, kKbd,
             false},
        Case{"before a splice, the other shape", Inside(W(kLong, kSine), false), true, kKbd, false},
        Case{"before a splice, an onset in the clip's next packet",
             With(Inside(W(kLong), false),
                  [](SpliceBlock& b) {
                      b.nextSameClip = true;
                      b.nextWindow = W(kShort);
                  }),
             true, kKbd, false},
        Case{"before a splice, the clip's next packet long",
             With(Inside(W(kLong), false),
                  [](SpliceBlock& b) {
                      b.nextSameClip = true;
                      b.nextWindow = W(kLong);
                  }),
             true, kKbd, true}),
    [](const auto& info) { return TestName(info.param.name); });

TEST(SpliceAfterStretch, TheStretchsLastPacketMustMeetTheCopiedOneInALongWindow) {
    const SpliceBlock b = Inside(W(kLong));
    EXPECT_TRUE(AacSplice::Follows(b, W(kLong)));
    EXPECT_TRUE(AacSplice::Follows(b, W(kLongStop)));
    EXPECT_FALSE(AacSplice::Follows(b, W(kLongStart)));
    EXPECT_FALSE(AacSplice::Follows(b, W(kShort)));
    EXPECT_FALSE(AacSplice::Follows(b, W(kLong, kSine)));
    EXPECT_FALSE(AacSplice::Follows(b, AacWindow{}));
    SpliceBlock undecoded = b;
    undecoded.mustCopy = true;
    EXPECT_TRUE(AacSplice::Follows(undecoded, W(kShort, kSine)));
}

struct StartCase {
    const char* name;
    std::vector<tavhost::media::HeldCopy> held;  // the last one just before block 50
    std::vector<AacWindow> rehearsed;            // a stretch's first window from 50, 49, 48...
    int kept;                                    // held blocks that stay copied
};

std::ostream& operator<<(std::ostream& os, const StartCase& c) {
    return os << c.name;
}

tavhost::media::HeldCopy H(int64_t block, AacWindow window, bool mustCopy = false) {
    return {block, window, mustCopy};
}

class SpliceStarts : public ::testing::TestWithParam<StartCase> {};

// A stretch after copied packets starts where its first packet meets the
// copied one before it, rehearsed block by block further back; a packet that
// only holds undecoded sound stays copied whatever comes after it.
TEST_P(SpliceStarts, WhereTheStretchsFirstWindowMeetsTheCopiedOne) {
    const StartCase& c = GetParam();
    std::vector<int64_t> asked;
    const int kept = AacSplice::StretchStart(c.held, 50, [&](int64_t block, AacWindow* w) {
        asked.push_back(block);
        const size_t k = size_t(50 - block);
        *w = k < c.rehearsed.size() ? c.rehearsed[k] : AacWindow{};
        return true;
    });
    EXPECT_EQ(kept, c.kept);
    // Each rehearsal starts where the last held copy still kept ends.
    for (size_t k = 0; k < asked.size(); ++k) EXPECT_EQ(asked[k], 50 - int64_t(k));
    EXPECT_EQ(asked.size(),
              c.held.empty() ? 0u : std::min(c.held.size() - size_t(c.kept) + 1, c.held.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Windows, SpliceStarts,
    ::testing::Values(
        StartCase{"nothing held", {}, {}, 0},
        StartCase{"the first window long", {H(48, W(kLong)), H(49, W(kLong))}, {W(kLong)}, 2},
        StartCase{"an onset the copied packet did not see",
                  {H(47, W(kLong)), H(48, W(kLong)), H(49, W(kLong))},
                  {W(kShort), W(kLongStart)},
                  2},
        StartCase{"the encoder's transition window in another shape",
                  {H(48, W(kLong)), H(49, W(kLong))},
                  {W(kLongStart, kSine), W(kLong)},
                  1},
        StartCase{"a copied long-start packet needs a short first half",
                  {H(48, W(kLong)), H(49, W(kLongStart))},
                  {W(kLong), W(kLong)},
                  1},
        StartCase{"none meets: the stretch starts at the oldest",
                  {H(48, W(kLong)), H(49, W(kLong))},
                  {W(kShort), W(kShort), W(kShort)},
                  0},
        StartCase{"undecoded sound stays copied",
                  {H(48, W(kLong)), H(49, W(kShort), true)},
                  {W(kShort)},
                  2},
        StartCase{"a stretch never starts before undecoded sound",
                  {H(47, W(kLong), true), H(48, W(kLong)), H(49, W(kLong))},
                  {W(kShort), W(kShort), W(kShort)},
                  1}),
    [](const auto& info) { return TestName(info.param.name); });

TEST(SpliceStarts, ARehearsalThatFailsIsSaid) {
    EXPECT_EQ(
        AacSplice::StretchStart({H(49, W(kLong))}, 50, [](int64_t, AacWindow*) { return false; }),
        -1);
}

// FFmpeg's AAC encoder, as the movie opens it, fed `blocks` blocks of
// `channels` channels, channel c of sample i `tone(i, c)`, and flushed: each
// packet's window.
std::vector<AacWindow> Encode(int blocks, double (*tone)(int64_t, int), int channels = 2) {
    const tavhost::SoundFormat sound{48000, channels};
    std::string why;
    tavhost::media::CodecPtr enc = tavhost::media::OpenSoundCoder(
        avcodec_find_encoder(AV_CODEC_ID_AAC), sound, false, true, &why);
    EXPECT_TRUE(enc) << why;
    std::vector<AacWindow> out;
    if (!enc) return out;
    AVFrame* frame = av_frame_alloc();
    AVPacket* pkt = av_packet_alloc();
    auto drain = [&] {
        while (avcodec_receive_packet(enc.get(), pkt) == 0) {
            out.push_back(tavhost::media::WindowOf(pkt->data, size_t(pkt->size), channels));
            av_packet_unref(pkt);
        }
    };
    for (int b = 0; b < blocks; ++b) {
        frame->format = enc->sample_fmt;
        frame->sample_rate = sound.rate;
        av_channel_layout_default(&frame->ch_layout, sound.channels);
        frame->nb_samples = tavhost::media::kPacketSamples;
        EXPECT_EQ(av_frame_get_buffer(frame, 0), 0);
        for (int c = 0; c < sound.channels; ++c) {
            auto* plane = reinterpret_cast<float*>(frame->extended_data[c]);
            for (int i = 0; i < frame->nb_samples; ++i)
                plane[i] = float(tone(int64_t(b) * frame->nb_samples + i, c));
        }
        frame->pts = int64_t(b) * frame->nb_samples;
        EXPECT_EQ(avcodec_send_frame(enc.get(), frame), 0);
        av_frame_unref(frame);
        drain();
    }
    EXPECT_EQ(avcodec_send_frame(enc.get(), nullptr), 0);
    drain();
    av_packet_free(&pkt);
    av_frame_free(&frame);
    return out;
}

double Tone(int64_t i, int = 0) {
    return 0.5 * std::sin(2 * std::numbers::pi * 440.0 * double(i) / 48000.0);
}

// A stretch's encoder is given its lead-in, its own blocks and the lead-out,
// and writes a packet for each and its priming packet: those not dropped
// and not past the end are exactly the stretch's own.
TEST(SpliceStretches, TheEncodersPacketsAreTheLeadInTheStretchAndTheLeadOut) {
    for (const int64_t first : {int64_t(0), int64_t(3), int64_t(200)}) {
        const int64_t own = 10;
        const int blocks = int(AacSplice::LeadIn(first) + own + AacSplice::kLeadOut);
        const size_t packets = Encode(blocks, Tone).size();
        EXPECT_EQ(int64_t(packets), AacSplice::Dropped(first) + AacSplice::Own(first, first + own) +
                                        AacSplice::kLeadOut)
            << "a stretch from block " << first;
    }
}

// The windows read from the encoder's packets: a steady tone is all long
// windows of one shape; a click after silence switches to short ones.
TEST(SpliceWindows, AreReadFromTheEncodersOwnPackets) {
    const std::vector<AacWindow> steady = Encode(40, Tone);
    ASSERT_GT(steady.size(), 30u);
    for (size_t i = 5; i < 30; ++i) {
        EXPECT_TRUE(steady[i].known) << i;
        EXPECT_EQ(steady[i].sequence, kLong) << i;
        EXPECT_EQ(steady[i].shape, steady[5].shape) << i;
    }
    const std::vector<AacWindow> click = Encode(
        40, [](int64_t i, int) { return i >= 20 * 1024 + 500 && i < 20 * 1024 + 520 ? 0.9 : 0.0; });
    int shortOnes = 0;
    for (const AacWindow& w : click) shortOnes += w.known && w.sequence == kShort ? 1 : 0;
    EXPECT_GT(shortOnes, 0);
}

// A window is known only where it is every channel's: a click in one channel
// of a pair makes the encoder window the two apart, and those packets' windows
// are not known (the other channel's cannot be read without the spectral data
// before it); mono is known; a stream of six channels never is.
TEST(SpliceWindows, AreKnownOnlyWhereEveryChannelsIsRead) {
    auto clickRight = [](int64_t i, int c) {
        const double click = i >= 20 * 1024 + 500 && i < 20 * 1024 + 520 ? 0.9 : 0.0;
        return c == 1 ? click + 0.3 * Tone(i) : 0.3 * Tone(i);
    };
    const std::vector<AacWindow> apart = Encode(40, clickRight);
    ASSERT_GT(apart.size(), 30u);
    // Together before the click (block 20), apart somewhere around it.
    for (size_t i = 5; i < 15; ++i) EXPECT_TRUE(apart[i].known) << i;
    int unknown = 0;
    for (size_t i = 15; i < apart.size(); ++i) unknown += apart[i].known ? 0 : 1;
    EXPECT_GT(unknown, 0);

    const std::vector<AacWindow> mono = Encode(40, Tone, 1);
    ASSERT_GT(mono.size(), 30u);
    for (size_t i = 5; i < 30; ++i) EXPECT_TRUE(mono[i].known) << i;

    const std::vector<AacWindow> six = Encode(20, Tone, 6);
    ASSERT_GT(six.size(), 10u);
    for (const AacWindow& w : six) EXPECT_FALSE(w.known);
}

}  // namespace
}  // namespace tavtest
