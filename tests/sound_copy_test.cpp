// A render that copies the clips' pictures copies their AAC sound too where
// it goes into the movie unchanged, and encodes only around the transitions
// and fades. Measured against the render's exact sound (a part's 32-bit
// float PCM, which copies nothing) beside FFmpeg's own encoding of that
// sound: the copied sound is the clips' own, moved by less than half a
// packet, no splice stands out from a full encode, and a render in parts
// joins to the same sound.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "aac_splice.h"
#include "support/faithful.h"
#include "support/sound_measure.h"

namespace {

using tavhost::media::AacSplice;
using tavtest::BestLag;
using tavtest::ErrorEnergyAt;
using tavtest::Faithful;
using tavtest::PeakErrorAt;
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
    const char* encoder = "aac";     // the clips' AAC encoder: FFmpeg's, or GStreamer's voaacenc
    int rate = 48000;
};

void PrintTo(const CopyCase& c, std::ostream* os) {
    *os << c.name;
}

// A clip whose pictures the render can copy (H.264, 4:2:0, tagged as the
// output is) with stereo AAC sound. FFmpeg's encoder codes every band, none
// left to the decoder's noise (whose random state runs on from one packet to
// the next), so that its copied packets decode to exactly its own sound.
std::string ClipArgs(int seconds, int rate, const std::string& audio) {
    const std::string d = std::to_string(seconds);
    return "-f lavfi -i testsrc2=s=160x120:r=30:d=" + d + " " + audio + " -ac 2 -ar " +
           std::to_string(rate) +
           " -pix_fmt yuv420p -color_primaries smpte170m -color_trc smpte170m "
           "-colorspace smpte170m -color_range tv -c:v libx264 -preset ultrafast -g 30 -shortest";
}

class SoundCopy : public Faithful, public ::testing::WithParamInterface<CopyCase> {
  protected:
    // The clip with sound `sound`, `seconds` long, its AAC made by `c.encoder`.
    std::string Clip(const CopyCase& c, const std::string& name, const std::string& sound) {
        const std::string d = std::to_string(c.seconds);
        const std::string source = "-f lavfi -i '" + sound + ":d=" + d + "'";
        if (std::string(c.encoder) == "aac")
            return Make(name,
                        ClipArgs(c.seconds, c.rate, source + " -c:a aac -aac_pns 0 -b:a 192k"));
        const std::string clip = P(name);
        if (std::filesystem::exists(clip)) return clip;
        const std::string wav = P(name + ".wav"), m4a = P(name + ".m4a");
        bool ok = false;
        Sh("ffmpeg -v error -y " + source + " -ac 2 -ar " + std::to_string(c.rate) + " '" + wav +
               "' && gst-launch-1.0 -q filesrc location='" + wav +
               "' ! wavparse ! audioconvert ! voaacenc bitrate=192000 ! aacparse ! mp4mux ! "
               "filesink location='" +
               m4a + "'",
           &ok);
        EXPECT_TRUE(ok) << name;
        EXPECT_TRUE(tavtest::FfmpegClip(
            clip, ClipArgs(c.seconds, c.rate, "-i '" + m4a + "' -map 0:v -map 1:a -c:a copy")))
            << name;
        return clip;
    }
};

TEST_P(SoundCopy, IsTheClipsOwnAndEverySpliceAsAFullEncode) {
    const CopyCase& c = GetParam();
    std::string clips;
    std::set<std::string> clipPackets;
    for (size_t k = 0; k < c.clips.size(); ++k) {
        const std::string clip =
            Clip(c, std::string(c.name) + "_" + std::to_string(k) + ".mp4", c.clips[k]);
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
    // FFmpeg's encoding of the exact sound from block `block` on, decoded.
    std::map<long, std::vector<float>> encoded;
    const auto EncodedFrom = [&](long block) -> const std::vector<float>& {
        std::vector<float>& e = encoded[block];
        if (!e.empty()) return e;
        const std::string raw = P(std::string(c.name) + "_from.f32");
        const std::string aac = P(std::string(c.name) + "_from" + std::to_string(block) + ".m4a");
        {
            std::ofstream out(raw, std::ios::binary);
            const size_t first = std::min(want.size(), size_t(block * kPacket) * size_t(ch));
            out.write(reinterpret_cast<const char*>(want.data() + first),
                      std::streamsize((want.size() - first) * sizeof(float)));
        }
        bool encodedOk = false;
        Sh("ffmpeg -v error -y -f f32le -ar " + std::to_string(c.rate) + " -ac " +
               std::to_string(ch) + " -i '" + raw + "' -c:a aac -b:a " +
               std::to_string(96000 * ch) + " '" + aac + "'",
           &encodedOk);
        EXPECT_TRUE(encodedOk) << aac;
        e = Samples(aac);
        return e;
    };
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
            // Nor does any channel's: its peak error within two packets of
            // the splice is within 6 dB of FFmpeg's own encoding of the
            // sound from where the stretch's encoder started. (FFmpeg's
            // encoder settles at noise levels some 5 dB apart with where it
            // starts; from there, its packets are the stretch's own.)
            long stretch = long(i) - 1;  // the first block of the stretch met here
            if (copied[i])
                while (stretch > 0 && !copied[size_t(stretch)]) --stretch;
            const std::vector<float>& from = EncodedFrom(stretch - AacSplice::LeadIn(stretch));
            const auto [p0, p1] = window(at, 2 * kPacket, 2 * kPacket);
            const long start = (stretch - AacSplice::LeadIn(stretch)) * kPacket;
            for (int k = 0; k < ch; ++k)
                EXPECT_LE(PeakErrorAt(got, want, ch, k, lag, p0, p1),
                          2 * PeakErrorAt(from, want, ch, k, -start, p0, p1) + 1e-4)
                    << c.name << ": channel " << k << " at the splice at " << at << " (lag " << lag
                    << ", the stretch from block " << stretch << ")";
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

constexpr const char* kClicksOther =
    "aevalsrc=0.2*sin(2*PI*520*t)+0.6*lt(mod(t\\,0.5)\\,0.004)*(random(0)-0.5):s=48000";
constexpr const char* kClicksThird =
    "aevalsrc=0.2*sin(2*PI*520*t)+0.6*lt(mod(t\\,0.5)\\,0.004)*(random(1)-0.5):s=48000";

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
        CopyCase{"longClips", "boxscatter --length 64f", {kNoiseAndTone, kOtherTones}, 24, 0.8},
        // Where a stretch begins, the encoder windows an onset short that the
        // clip's packet before it did not.
        CopyCase{"clicksThree",
                 "boxscatter --length 26f --open boxrevealblack",
                 {kClicksOther, kClicksThird, kClicks},
                 6,
                 0.5},
        // Another encoder's packets (its own windows and shapes), three clips.
        CopyCase{"voaacenc",
                 "boxscatter --length 26f --open boxrevealblack",
                 {kNoiseAndTone, kOtherTones, kClicks},
                 6,
                 0.4,
                 "voaacenc"},
        // 44.1 kHz: the packets fall elsewhere against the frames.
        CopyCase{"clicks44k",
                 "boxscatter --length 66f --open boxrevealblack --close boxconcealwhite",
                 {kClicks, kClicksRight},
                 8,
                 0.3,
                 "aac",
                 44100}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
