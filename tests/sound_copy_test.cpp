// A render that copies the clips' pictures copies their AAC sound too where
// it goes into the movie unchanged, and encodes only around the transitions
// and fades. Measured against the render's exact sound (a part's 32-bit
// float PCM, which copies nothing) beside FFmpeg's own encoding of that
// sound: the copied sound is the clips' own, moved by less than half a
// packet, no splice stands out from a full encode, and a render in parts
// joins to the same sound.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "support/faithful.h"
#include "support/sound_measure.h"

namespace {

using tavtest::BestLag;
using tavtest::ErrorEnergyAt;
using tavtest::Faithful;
using tavtest::Probe;
using tavtest::Samples;
using tavtest::Sh;
using tavtest::SoundPackets;

constexpr long kPacket = 1024;

struct CopyCase {
    const char* name;
    const char* render;              // bundle and options, before the clips
    std::vector<std::string> clips;  // ffmpeg sound sources, one clip each
    int seconds;                     // each clip's length
    double copiedAtLeast;            // of the movie's packets
};

void PrintTo(const CopyCase& c, std::ostream* os) {
    *os << c.name;
}

// A clip whose pictures the render can copy (H.264, 4:2:0, tagged as the
// output is) with AAC sound at 48 kHz, stereo. Its bands are coded, none
// left to the decoder's noise (whose random state runs on from one packet to
// the next), so that its copied packets decode to exactly its own sound.
std::string ClipArgs(const std::string& sound, int seconds) {
    const std::string d = std::to_string(seconds);
    return "-f lavfi -i testsrc2=s=160x120:r=30:d=" + d + " -f lavfi -i '" + sound + ":d=" + d +
           "' -ac 2 -ar 48000 -pix_fmt yuv420p -color_primaries smpte170m -color_trc smpte170m "
           "-colorspace smpte170m -color_range tv -c:v libx264 -preset ultrafast -g 30 "
           "-c:a aac -aac_pns 0 -b:a 192k -shortest";
}

class SoundCopy : public Faithful, public ::testing::WithParamInterface<CopyCase> {};

TEST_P(SoundCopy, IsTheClipsOwnAndEverySpliceAsAFullEncode) {
    const CopyCase& c = GetParam();
    std::string clips;
    std::set<std::string> clipPackets;
    for (size_t k = 0; k < c.clips.size(); ++k) {
        const std::string clip = Make(std::string(c.name) + "_" + std::to_string(k) + ".mp4",
                                      ClipArgs(c.clips[k], c.seconds));
        clips += " '" + clip + "'";
        for (std::string& p : SoundPackets(clip)) clipPackets.insert(std::move(p));
    }
    const std::string render = std::string(c.render) + " --seed 7 --copy-unchanged" + clips;
    const std::string ours = P(std::string(c.name) + ".mp4");
    const std::string exact = P(std::string(c.name) + "_exact.mkv");
    ASSERT_EQ(Render(render + " -o " + ours).status, 0);
    ASSERT_EQ(Render(render + " --part 1/1 -o " + exact).status, 0);
    const std::string ref = P(std::string(c.name) + "_ffmpeg.m4a");
    bool ok = false;
    Sh("ffmpeg -v error -y -i '" + exact + "' -map 0:a -c:a aac -b:a 192000 '" + ref + "'", &ok);
    ASSERT_TRUE(ok);
    const int ch = std::stoi(Probe(exact, "a", "channels"));
    const std::vector<float> want = Samples(exact), got = Samples(ours), theirs = Samples(ref);
    ASSERT_GT(want.size(), 0u);
    EXPECT_NEAR(double(got.size()), double(want.size()), double(kPacket * ch)) << c.name;

    // Which of the movie's packets are the clips' own: packet i (after the
    // encoder's priming packet) is frames [(i - 1), i) x 1024 of the sound.
    const std::vector<std::string> packets = SoundPackets(ours);
    std::vector<bool> copied;
    for (const std::string& p : packets) copied.push_back(clipPackets.count(p) > 0);
    const double share =
        double(std::count(copied.begin(), copied.end(), true)) / double(copied.size());
    EXPECT_GE(share, c.copiedAtLeast) << c.name;

    const size_t frames = want.size() / size_t(ch);
    const auto window = [&](size_t at, long before, long after) {
        return std::pair{size_t(std::max<long>(0, long(at) - before)),
                         std::min(frames, size_t(long(at) + after))};
    };
    int splices = 0;
    double mine = 0, full = 0;  // over every splice's six blocks
    long runLag = 0;            // of the copied run under way
    for (size_t i = 2; i < copied.size(); ++i) {
        const size_t at = (i - 1) * size_t(kPacket);
        if (at >= frames) break;
        if (copied[i] != copied[i - 1]) {
            // Around a splice, at the lag that fits (the clip's sound is
            // moved by less than half a packet), no block stands out: none
            // is off by more than twice the worst block a little way off, in
            // the movie or in a full encode. (How well FFmpeg's encoder codes
            // a stretch varies threefold with where it started, so the
            // blocks at the splice are judged against their neighbours.)
            ++splices;
            const auto [a, b] = window(at, 3 * kPacket, 3 * kPacket);
            const long lag = BestLag(got, want, ch, kPacket / 2, a, b);
            double worst = 0;
            for (long k = -16; k < 16; ++k) {
                const auto [c0, c1] = window(at, -k * kPacket, (k + 1) * kPacket);
                if (c0 >= c1) continue;
                worst = std::max(worst, ErrorEnergyAt(theirs, want, ch, 0, c0, c1));
                if (k < -4 || k > 4)
                    worst = std::max(worst, ErrorEnergyAt(got, want, ch, lag, c0, c1));
            }
            for (long k = -2; k < 2; ++k) {
                const auto [c0, c1] = window(at, -k * kPacket, (k + 1) * kPacket);
                EXPECT_LE(ErrorEnergyAt(got, want, ch, lag, c0, c1), 2 * worst + 1e-7)
                    << c.name << ": block " << k << " of the splice at " << at << " (lag " << lag
                    << ")";
            }
            mine += ErrorEnergyAt(got, want, ch, lag, a, b);
            full += ErrorEnergyAt(theirs, want, ch, 0, a, b);
        }
        if (copied[i] && copied[i - 1]) {
            // Between two copied packets the sound is the clip's, exactly,
            // at one lag for the whole run (found at its first such packet).
            const auto [a, b] = window(at, 0, kPacket);
            if (!copied[i - 2] || i == 2) runLag = BestLag(got, want, ch, kPacket / 2, a, b);
            EXPECT_LE(ErrorEnergyAt(got, want, ch, runLag, a, b), 1e-9)
                << c.name << ": copied packet " << i << " at " << at << " (lag " << runLag << ")";
        }
    }
    EXPECT_GT(splices, 0) << c.name;
    EXPECT_LE(mine, 2 * full) << c.name << ": all splices";

    // Rendered in two parts and joined, the movie copies the same packets
    // and encodes the rest alike: its sound is the same, byte for byte.
    std::string parts;
    for (int k = 1; k <= 2; ++k) {
        const std::string part = P(std::string(c.name) + "_part" + std::to_string(k) + ".mkv");
        ASSERT_EQ(Render(render + " --part " + std::to_string(k) + "/2 -o " + part).status, 0);
        parts += " '" + part + "'";
    }
    const std::string joined = P(std::string(c.name) + "_joined.mp4");
    ASSERT_EQ(tavtest::RunTavhost("join" + parts + " -o " + joined + " --quiet").status, 0);
    EXPECT_TRUE(SoundPackets(joined) == packets) << c.name << ": joined parts";
}

constexpr const char* kNoiseAndTone =
    "aevalsrc=0.25*sin(2*PI*440*t)+0.1*sin(2*PI*3100*t)+0.05*(random(0)-0.5):s=48000";
constexpr const char* kOtherTones =
    "aevalsrc=0.2*sin(2*PI*660*t)+0.1*sin(2*PI*1750*t)+0.05*(random(1)-0.5):s=48000";
// A click every half second: the encoders window it short.
constexpr const char* kClicks =
    "aevalsrc=0.2*sin(2*PI*520*t)+0.6*lt(mod(t\\,0.5)\\,0.004)*(random(2)-0.5):s=48000";

// Clicks in the right channel only, at other times than the left's tone
// changes: the encoders window the two channels of a pair apart there.
constexpr const char* kClicksRight =
    "aevalsrc=0.2*sin(2*PI*520*t)|0.2*sin(2*PI*520*t)+0.6*lt(mod(t\\,0.5)\\,0.004)*(random(2)-"
    "0.5):s=48000";

INSTANTIATE_TEST_SUITE_P(
    Geometries, SoundCopy,
    ::testing::Values(
        // The second clip starts where the packets of both lie on one grid.
        CopyCase{"joinOnGrid", "boxscatter --length 60f", {kNoiseAndTone, kOtherTones}, 10, 0.6},
        // The second clip's sound moved onto the movie's packets.
        CopyCase{"joinOffGrid", "boxscatter --length 50f", {kNoiseAndTone, kOtherTones}, 10, 0.6},
        // Fades in and out of the one clip.
        CopyCase{"revealAndConceal",
                 "boxrevealblack --length 40f --close boxconcealwhite",
                 {kNoiseAndTone},
                 10,
                 0.6},
        // Short windows in the clips' own sound.
        CopyCase{"clicks", "boxscatter --length 60f", {kClicks, kClicks}, 10, 0.5},
        CopyCase{"clicksInOneChannel", "boxscatter --length 60f", {kClicksRight, kClicks}, 10, 0.4},
        // Clips long enough that the sound deep inside them is not decoded at all.
        CopyCase{"longClips", "boxscatter --length 64f", {kNoiseAndTone, kOtherTones}, 24, 0.8}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
