// Digital silence in a movie's AAC sound is written as silence without being
// encoded chunk after chunk, and the sound that follows it is as good as a
// full encode of the same sound: measured against the render's exact sound
// (a part's 32-bit float PCM) beside FFmpeg's own encoding of it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "support/faithful.h"
#include "support/sound_measure.h"

namespace {

using tavtest::ErrorEnergy;
using tavtest::Faithful;
using tavtest::Probe;
using tavtest::Result;
using tavtest::Samples;
using tavtest::Sh;

struct ClipMaker {
    const char* name;
    const char* make;  // ffmpeg options
};

struct SilenceCase {
    const char* name;
    const char* bundle;
    std::vector<ClipMaker> clips;
};

void PrintTo(const SilenceCase& c, std::ostream* os) {
    *os << c.name;
}

class Silence : public Faithful, public ::testing::WithParamInterface<SilenceCase> {};

TEST_P(Silence, IsSilentAndTheSoundAfterItAsAFullEncode) {
    const SilenceCase& c = GetParam();
    std::string clips;
    for (const ClipMaker& clip : c.clips)
        clips += " '" + Make(std::string(c.name) + "_" + clip.name + ".mp4", clip.make) + "'";
    const std::string render = std::string(c.bundle) + " --length 10f" + clips;
    const std::string ours = P(std::string(c.name) + ".mp4");
    const std::string exact = P(std::string(c.name) + "_exact.mkv");
    ASSERT_EQ(Render(render + " -o " + ours).status, 0);
    ASSERT_EQ(Render(render + " --part 1/1 -o " + exact).status, 0);
    const int channels = std::stoi(Probe(exact, "a", "channels"));
    const std::string ref = P(std::string(c.name) + "_ffmpeg.m4a");
    bool ok = false;
    Sh("ffmpeg -v error -y -i '" + exact + "' -map 0:a -c:a aac -b:a " +
           std::to_string(96000 * channels) + " '" + ref + "'",
       &ok);
    ASSERT_TRUE(ok);
    const std::vector<float> want = Samples(exact), got = Samples(ours), theirs = Samples(ref);
    ASSERT_GT(want.size(), 0u);
    EXPECT_NEAR(double(got.size()), double(want.size()), 1024.0 * channels) << c.name;

    // The runs of exact zeros (in whole frames of all channels) and the
    // sound's returns after them.
    const size_t frame = size_t(channels), margin = 2048 * frame;
    std::vector<std::pair<size_t, size_t>> runs;
    for (size_t i = 0; i < want.size();) {
        size_t j = i;
        while (j < want.size() && want[j] == 0.0f) ++j;
        if (j - i >= 16 * 1024 * frame) runs.push_back({i, j});
        i = j + 1;
    }
    ASSERT_FALSE(runs.empty()) << c.name << ": the render holds no silence to test";
    int returns = 0;
    for (const auto& [from, to] : runs) {
        // Silence is silence: not a sample off zero away from its edges.
        for (size_t i = from + margin; i + margin < to && i < got.size(); ++i)
            ASSERT_EQ(got[i], 0.0f) << c.name << ": sample " << i / frame;
        if (to >= want.size()) continue;
        // Where the sound comes back, no worse than a full encode of it.
        ++returns;
        const size_t a = to - std::min(to, margin), b = to + 2 * margin;
        const double mine = ErrorEnergy(got, want, a, b), full = ErrorEnergy(theirs, want, a, b);
        EXPECT_LE(mine, 1.5 * full + 1e-6) << c.name << ": sound back at " << to / frame;
    }
    EXPECT_GT(returns, 0) << c.name;
    const double mine = ErrorEnergy(got, want, 0, want.size());
    const double full = ErrorEnergy(theirs, want, 0, want.size());
    EXPECT_LE(mine, 1.2 * full + 1e-6) << c.name;
}

constexpr const char* kTone =
    "-f lavfi -i testsrc2=s=160x96:r=25:d=6 -f lavfi -i sine=f=440:d=6 "
    "-c:v libx264 -preset ultrafast -c:a aac -shortest";
constexpr const char* kMute =
    "-f lavfi -i testsrc2=s=160x96:r=25:d=6 -c:v libx264 -preset "
    "ultrafast";

INSTANTIATE_TEST_SUITE_P(
    Geometries, Silence,
    ::testing::Values(
        // A clip whose own sound is silent for 3 s, then a tone.
        SilenceCase{"quietStart",
                    "boxrevealblack",
                    {{"clip",
                      "-f lavfi -i testsrc2=s=160x96:r=25:d=8 -f lavfi -i "
                      "'aevalsrc=if(gte(t\\,3)\\,0.4*sin(2*PI*440*t)\\,0):s=48000:d=8' "
                      "-c:v libx264 -preset ultrafast -c:a aac -shortest"}}},
        // A tone whose every chunk is alike (750 Hz at 48 kHz: 16 periods a
        // chunk), cut to silence and back: alike packets are not yet silence.
        SilenceCase{"evenToneThenSilence",
                    "boxrevealblack",
                    {{"clip",
                      "-f lavfi -i testsrc2=s=160x96:r=25:d=8 -f lavfi -i "
                      "'aevalsrc=if(lt(t\\,4)+gte(t\\,6)\\,0.4*sin(2*PI*750*t)\\,0):s=48000:d=8' "
                      "-c:v libx264 -preset ultrafast -c:a aac -shortest"}}},
        // A clip without sound, then one with a tone.
        SilenceCase{"muteFirst", "boxscatter", {{"mute", kMute}, {"tone", kTone}}},
        // Sound, no sound, sound: the silence between two joins.
        SilenceCase{
            "muteBetween", "boxscatter", {{"tone", kTone}, {"mute", kMute}, {"tone2", kTone}}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
