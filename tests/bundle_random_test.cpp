// The bundles' rand() is the host's: bound at load to a sequence per thread,
// so a frame's pattern follows from its seed alone, whatever else in the
// process calls rand() or srand(), on the same thread or another.
#include "bundle_random.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "box_pattern.h"
#include "host.h"
#include "instance.h"
#include "loaded_bundle.h"
#include "support/rand_elsewhere.h"

namespace tavtest {
namespace {

const tavhost::Bundle& Scatter() {
    static std::unique_ptr<tavhost::Bundle> bundle = [] {
        std::string error;
        auto b = tavhost::Bundle::Open(std::string(TAV_BUNDLE_DIR) + "/boxscatter.so", &error);
        if (!b) ADD_FAILURE() << error;
        return b;
    }();
    return *bundle;
}

std::vector<uint8_t> Cells(tavhost::BoxPattern& pattern, double progress, uint32_t seed) {
    tavhost::BoxMap map;
    EXPECT_TRUE(pattern.Draw(progress, seed, &map));
    return map.cells;
}

// Lends frames with sound only, calling the C library's rand() and srand()
// as it does, as another part of the host (or another plug-in) might.
class RandUsingFrames : public tavhost::FrameProvider {
  public:
    TavPluginResult ProvideFrame(int32_t, bool, PixMap*, std::vector<float>& audio,
                                 int16_t& volume) override {
        audio.clear();
        volume = 255;
        if (useRand) {
            std::srand(12345);
            for (int i = 0; i < 100; ++i) (void)std::rand();
        }
        return kPluginOK;
    }
    bool useRand = false;
};

TEST(BundleRandom, EveryDecisionIsTheHosts) {
    // Box 2 over 32 x 16 pixels: 128 boxes, one decision each.
    tavhost::BoxPattern pattern(Scatter(), 1, 32, 16);
    ASSERT_TRUE(pattern.Ready());
    static std::atomic<int> calls{0};
    calls = 0;
    tavhost::ServeBundleRand([] { return ++calls, 0; });
    tavhost::BoxMap map;
    const bool drawn = pattern.Draw(0.5, 1, &map);
    tavhost::ServeBundleRand(nullptr);
    ASSERT_TRUE(drawn);
    EXPECT_EQ(calls.load(), 128);
    // rand() of 0 is at most any threshold: every box shows the second picture.
    EXPECT_EQ(std::vector<uint8_t>(map.cells.size(), tavhost::BoxMap::kSecond), map.cells);
}

TEST(BundleRandom, RandUsedBetweenSeedAndDecisionsChangesNothing) {
    RandUsingFrames frames;
    tavhost::Host host;
    host.SetProvider(&frames);
    host.SetDrawing(tavhost::Drawing::kRecorded);
    host.ComposeLater(true);
    ASSERT_NE(host.EnsureOutputWorld(64, 48), nullptr);
    tavhost::TransitionInstance inst(Scatter(), host, 3);
    ASSERT_EQ(inst.GetInfo(0.5f), kPluginOK);
    ASSERT_EQ(inst.Initialize(), kPluginOK);
    const Rect rect = {0, 0, 48, 64};
    std::vector<uint8_t> maps[2];
    for (int i = 0; i < 2; ++i) {
        frames.useRand = i == 1;
        tavhost::SeedBundleRandom(99);
        ASSERT_EQ(inst.DoFrame(0, 40, 100, rect), kPluginOK);
        const tavhost::FrameRecording& r = host.Recorded();
        ASSERT_GT(r.Rows(), 0);
        for (int32_t row = 0; row < r.Rows(); ++row)
            maps[i].insert(maps[i].end(), r.BoxRow(row), r.BoxRow(row) + r.Columns());
    }
    inst.Terminate(100);
    EXPECT_EQ(maps[0], maps[1]);
}

TEST(BundleRandom, ThreadsDrawTheirOwnSequences) {
    const double progress[] = {0.3, 0.6};
    std::vector<uint8_t> alone[2];
    for (int i = 0; i < 2; ++i) {
        tavhost::BoxPattern pattern(Scatter(), 3, 96, 64);
        alone[i] = Cells(pattern, progress[i], uint32_t(i + 7));
    }
    // Each thread with a pattern of its own, as each editor thread has its instance.
    tavhost::BoxPattern patterns[2] = {{Scatter(), 3, 96, 64}, {Scatter(), 3, 96, 64}};
    EXPECT_EQ(
        DifferingOnTwoThreads(
            50,
            [&](int i) { return Cells(patterns[i], progress[i], uint32_t(i + 7)) == alone[i]; }),
        0);
    EXPECT_NE(alone[0], alone[1]);
}

}  // namespace
}  // namespace tavtest
