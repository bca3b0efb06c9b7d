// DoFrame of all five bundles: which code wins, what is given back, the box
// grid, the decisions at their boundaries, audio levels and refused input.
#include <gtest/gtest.h>

#include <climits>

#include "support/rig.h"

namespace tavtest {
namespace {

constexpr int32_t kMax = 2147483647;

bool IsScatter(const std::string& b) {
    return b == "boxscatter";
}
bool IsConceal(const std::string& b) {
    return b.rfind("boxconceal", 0) == 0;
}
bool IsReveal(const std::string& b) {
    return b.rfind("boxreveal", 0) == 0;
}
uint32_t FillPixel(const std::string& b) {
    return b.find("black") != std::string::npos ? kBlackPixel : kWhitePixel;
}

// A frame (of 10) in which every effect copies boxes through Blit: scatter and
// reveal at 30 % copy the boxes that show the incoming picture; conceal at 80 %
// copies the boxes that still show the clip.
int32_t CopyingFrame(const std::string& b) {
    return IsConceal(b) ? 7 : 2;
}

// rand() values that alternate between the two ends, so that about every
// other box is drawn in each effect.
void ScriptAlternating() {
    std::vector<int32_t> values;
    for (int i = 0; i < 256; ++i) values.push_back(i % 2 ? kMax : 0);
    ScriptRand(values);
}

std::vector<ServiceCall> FrameCalls(const RecordingHost& rec) {
    std::vector<ServiceCall> out;
    for (const ServiceCall& c : rec.Calls())
        if (c.svc == Svc::GetFrame || c.svc == Svc::Blit || c.svc == Svc::MixAudio ||
            c.svc == Svc::ReleaseFrame)
            out.push_back(c);
    return out;
}

int CountOf(const std::vector<ServiceCall>& calls, Svc svc) {
    int n = 0;
    for (const ServiceCall& c : calls) n += c.svc == svc;
    return n;
}

std::vector<Svc> Kinds(const std::vector<ServiceCall>& calls) {
    std::vector<Svc> out;
    for (const ServiceCall& c : calls) out.push_back(c.svc);
    return out;
}

// --- Which code wins, and everything is given back on every path. ---

class CodeWins : public ::testing::TestWithParam<std::string> {
  protected:
    std::vector<ServiceCall> CleanRun() {
        Rig rig(GetParam(), 3, 20, 12);
        rig.Start();
        ScriptAlternating();
        EXPECT_EQ(rig.Frame(CopyingFrame(GetParam()), 10), kPluginOK);
        rig.ExpectClean();
        return FrameCalls(rig.rec);
    }
};

TEST_P(CodeWins, FirstFailureWinsAndFramesAreReleased) {
    const std::string bundle = GetParam();
    const std::vector<ServiceCall> clean = CleanRun();
    ASSERT_GE(CountOf(clean, Svc::Blit), 3) << "the frame must copy boxes";

    for (size_t i = 0; i < clean.size(); ++i) {
        for (bool releaseFailsToo : {false, true}) {
            const Svc svc = clean[i].svc;
            if (releaseFailsToo && (svc == Svc::GetFrame || svc == Svc::ReleaseFrame)) continue;
            int nth = 0, releasesBefore = 0, framesFetched = 0;
            for (size_t j = 0; j <= i; ++j) {
                nth += clean[j].svc == svc;
                releasesBefore += clean[j].svc == Svc::ReleaseFrame;
                framesFetched += clean[j].svc == Svc::GetFrame;
            }
            SCOPED_TRACE(std::string(SvcName(svc)) + " #" + std::to_string(nth) +
                         (releaseFailsToo ? " and the release after it" : ""));

            Rig rig(bundle, 3, 20, 12);
            rig.Start();
            ScriptAlternating();
            rig.SetPortColours(kRed, kGreen);
            rig.rec.Fail(svc, nth, kPluginTryAgainLater);
            if (releaseFailsToo) rig.rec.Fail(Svc::ReleaseFrame, releasesBefore + 1, kPluginCancel);
            EXPECT_EQ(rig.Frame(CopyingFrame(bundle), 10), kPluginTryAgainLater);

            // The calls up to the failure, then only the release of a held frame.
            std::vector<Svc> expected = Kinds({clean.begin(), clean.begin() + i + 1});
            if (svc != Svc::GetFrame && svc != Svc::ReleaseFrame)
                expected.push_back(Svc::ReleaseFrame);
            EXPECT_EQ(Kinds(FrameCalls(rig.rec)), expected);
            EXPECT_EQ(RandCalls(), clean[i].rands);
            rig.ExpectClean();

            // Colours are reset only once the drawing was reached.
            const bool drew = IsScatter(bundle) ? framesFetched == 2 && svc != Svc::GetFrame
                                                : !(svc == Svc::GetFrame && nth == 1);
            EXPECT_EQ(rig.Fore(), drew ? kBlackRGB : kRed);
            EXPECT_EQ(rig.Back(), drew ? kWhiteRGB : kGreen);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllBundles, CodeWins, ::testing::ValuesIn(kAllBundles));

// --- The box grid. ---

std::vector<Rect> BoxBlits(const RecordingHost& rec, bool skipWhole) {
    std::vector<Rect> out;
    for (const ServiceCall& c : rec.CallsOf(Svc::Blit)) out.push_back(c.dst);
    if (skipWhole && !out.empty()) out.erase(out.begin());
    return out;
}

TEST(BoxGrid, RowsAndColumnsEndAtTheFrameEdges) {
    // 360 x 250 with box 16: 23 boxes a row, the last 8 wide; 16 rows, the last 10 high.
    Rig rig("boxscatter", 4, 360, 250);
    rig.Start();
    FixRand(0);
    ASSERT_EQ(rig.Frame(2, 10), kPluginOK);
    const std::vector<Rect> boxes = BoxBlits(rig.rec, true);
    ASSERT_EQ(boxes.size(), 23u * 16u);
    EXPECT_EQ(RandCalls(), 23 * 16);
    EXPECT_EQ(boxes[0], (Rect{0, 0, 16, 16}));
    EXPECT_EQ(boxes[1], (Rect{0, 16, 16, 32}));
    EXPECT_EQ(boxes[22], (Rect{0, 352, 16, 360}));
    EXPECT_EQ(boxes[23], (Rect{16, 0, 32, 16}));
    EXPECT_EQ(boxes.back(), (Rect{240, 352, 250, 360}));
    for (const ServiceCall& c : rig.rec.CallsOf(Svc::Blit)) EXPECT_EQ(c.d, 255);
    // The last frame copies every box: the output is the second clip.
    rig.rec.Clear();
    ASSERT_EQ(rig.Frame(9, 10), kPluginOK);
    for (int y : {0, 100, 249})
        for (int x : {0, 200, 359}) EXPECT_EQ(rig.Out(x, y), PatternClips::Pixel(19, x, y));
}

TEST(BoxGrid, FrameAwayFromTheOriginOffsetsOnlyTheDestination) {
    Rig rig("boxscatter", 4, 120, 80);
    rig.frameRect = {20, 30, 50, 70};  // 40 x 30 at (30, 20)
    rig.Start();
    FixRand(0);
    ASSERT_EQ(rig.Frame(2, 10), kPluginOK);
    const auto blits = rig.rec.CallsOf(Svc::Blit);
    ASSERT_EQ(blits.size(), 1u + 3 * 2);
    EXPECT_EQ(blits[0].src, (Rect{0, 0, 30, 40}));
    EXPECT_EQ(blits[0].dst, rig.frameRect);
    EXPECT_EQ(blits[3].src, (Rect{0, 32, 16, 40}));
    EXPECT_EQ(blits[3].dst, (Rect{20, 62, 36, 70}));
    EXPECT_EQ(blits.back().src, (Rect{16, 32, 30, 40}));
    EXPECT_EQ(blits.back().dst, (Rect{36, 62, 50, 70}));
    const auto frames = rig.rec.CallsOf(Svc::GetFrame);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].b, 40);
    EXPECT_EQ(frames[0].c, 30);
    // Pixels: the frame shows the second clip from its origin; outside it the host's white.
    EXPECT_EQ(rig.Out(30, 20), PatternClips::Pixel(12, 0, 0));
    EXPECT_EQ(rig.Out(69, 49), PatternClips::Pixel(12, 39, 29));
    EXPECT_EQ(rig.Out(29, 20), kWhitePixel);
    EXPECT_EQ(rig.Out(70, 49), kWhitePixel);
    EXPECT_EQ(rig.Out(30, 50), kWhitePixel);
}

struct CountCase {
    std::string bundle;
    int16_t which;
    int width, height;
    int boxes;
};

void PrintTo(const CountCase& c, std::ostream* os) {
    *os << c.bundle << " which " << c.which << " " << c.width << "x" << c.height;
}

class GridCount : public ::testing::TestWithParam<CountCase> {};

TEST_P(GridCount, OneRandPerVisitedBox) {
    const CountCase& c = GetParam();
    Rig rig(c.bundle, c.which, std::max(c.width, 1), std::max(c.height, 1));
    rig.frameRect = {0, 0, int16_t(c.height), int16_t(c.width)};
    rig.Start();
    ASSERT_EQ(rig.Frame(5, 10), kPluginOK);
    EXPECT_EQ(RandCalls(), c.boxes);
    rig.ExpectClean();
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, GridCount,
    ::testing::Values(CountCase{"boxrevealwhite", 4, 100, 30, 14},
                      CountCase{"boxconcealblack", 4, 100, 30, 14},
                      CountCase{"boxscatter", 4, 360, 240, 345},
                      CountCase{"boxscatter", 1, 720, 480, 360 * 240},
                      CountCase{"boxscatter", 4, 10, 6, 1},             // box larger than frame
                      CountCase{"boxrevealblack", 300, 64, 48, 1},      // box of 300 pixels
                      CountCase{"boxconcealwhite", 7, 15, 15, 9},       // box of 7 pixels
                      CountCase{"boxscatter", 2, 0, 20, 0},             // no width
                      CountCase{"boxrevealwhite", 2, 20, 0, 0},         // no height
                      CountCase{"boxscatter", 4, 1, 32767, 2048},       // rowTop would wrap
                      CountCase{"boxrevealwhite", 30000, 32767, 1, 2},  // colLeft would wrap
                      CountCase{"boxconcealwhite", 30000, 1, 32767, 2}));

TEST(BoxGrid, NegativeSizeVisitsNoBox) {
    Rig rig("boxscatter", 2, 20, 20);
    rig.frameRect = {10, 10, 5, 5};
    rig.Start();
    EXPECT_EQ(rig.Frame(5, 10), kPluginOK);
    EXPECT_EQ(RandCalls(), 0);
    rig.ExpectClean();
}

// --- Decisions at their boundaries. ---

struct BoundaryCase {
    std::string bundle;
    int32_t renderFrame;   // of 10
    int32_t below, above;  // rand() values just below and above the threshold
    bool drawBelow;        // whether the box with the value below is drawn
};

void PrintTo(const BoundaryCase& c, std::ostream* os) {
    *os << c.bundle << " frame " << c.renderFrame << " of 10";
}

class Boundary : public ::testing::TestWithParam<BoundaryCase> {};

// What a pixel of a box shows at `renderFrame` of 10, drawn or left as the base.
uint32_t BoxPixel(const std::string& b, int32_t renderFrame, int x, int y, bool drawn) {
    const double percent = (renderFrame + 1) / 10.0;
    const uint32_t clip = PatternClips::Pixel(renderFrame, x, y);
    if (IsScatter(b)) return drawn ? PatternClips::Pixel(renderFrame + 10, x, y) : clip;
    const bool colourFirst = IsReveal(b) ? percent < 0.5 : percent > 0.5;
    return drawn == colourFirst ? clip : FillPixel(b);
}

// Two 16-pixel boxes side by side; the first gets `below`, the second `above`.
TEST_P(Boundary, ComparesWithTheThreshold) {
    const BoundaryCase& c = GetParam();
    Rig rig(c.bundle, 4, 32, 16);
    rig.Start();
    ScriptRand({c.below, c.above});
    ASSERT_EQ(rig.Frame(c.renderFrame, 10), kPluginOK);
    EXPECT_EQ(RandCalls(), 2);
    for (int y : {0, 15}) {
        for (int x : {0, 15}) {
            EXPECT_EQ(rig.Out(x, y), BoxPixel(c.bundle, c.renderFrame, x, y, c.drawBelow));
            EXPECT_EQ(rig.Out(16 + x, y),
                      BoxPixel(c.bundle, c.renderFrame, 16 + x, y, !c.drawBelow));
        }
    }
}

// Thresholds: 0.3 * max = 644245094.1, 0.7 * max = 1503238552.9,
// 0.5 * max = 1073741823.5, 0.6 * max = 1288490188.2, 0.2 * max = 429496729.4.
INSTANTIATE_TEST_SUITE_P(
    Thresholds, Boundary,
    ::testing::Values(BoundaryCase{"boxscatter", 2, 644245094, 644245095, true},
                      BoundaryCase{"boxscatter", 4, 1073741823, 1073741824, true},
                      BoundaryCase{"boxrevealwhite", 2, 1503238552, 1503238553, false},
                      BoundaryCase{"boxrevealblack", 4, 1073741823, 1073741824, false},
                      BoundaryCase{"boxrevealwhite", 5, 1288490188, 1288490189, false},
                      BoundaryCase{"boxconcealblack", 2, 644245094, 644245095, true},
                      BoundaryCase{"boxconcealwhite", 4, 1073741823, 1073741824, true},
                      BoundaryCase{"boxconcealblack", 7, 429496729, 429496730, true}));

TEST(Boundary, EqualityAtTheLastFrame) {
    // At 100 % the threshold is the generator's maximum: scatter copies on
    // equality, reveal does not paint (strictly greater), conceal copies nothing.
    for (const std::string& b : kAllBundles) {
        Rig rig(b, 4, 32, 16);
        rig.Start();
        FixRand(IsConceal(b) ? 0 : kMax);
        ASSERT_EQ(rig.Frame(9, 10), kPluginOK) << b;
        for (int x : {0, 20, 31}) {
            const uint32_t expected = IsScatter(b)  ? PatternClips::Pixel(19, x, 3)
                                      : IsReveal(b) ? PatternClips::Pixel(9, x, 3)
                                                    : FillPixel(b);
            EXPECT_EQ(rig.Out(x, 3), expected) << b << " x " << x;
        }
    }
}

TEST(Boundary, HalfWayIsClipFirstInRevealAndConceal) {
    for (const std::string& b : kSingleClipBundles) {
        Rig rig(b, 4, 32, 16);
        rig.Start();
        FixRand(IsReveal(b) ? 0 : kMax);  // no box drawn
        ASSERT_EQ(rig.Frame(4, 10), kPluginOK);
        EXPECT_EQ(rig.rec.Count(Svc::Blit), 1) << b;
        EXPECT_EQ(rig.Out(7, 7), PatternClips::Pixel(4, 7, 7)) << b;
    }
}

struct EndCase {
    std::string bundle;
    int32_t renderFrame, frameCount;
    bool showsClip;  // otherwise the fill colour
};

void PrintTo(const EndCase& c, std::ostream* os) {
    *os << c.bundle << " frame " << c.renderFrame << " of " << c.frameCount;
}

class FirstAndLast : public ::testing::TestWithParam<EndCase> {};

TEST_P(FirstAndLast, WholeFrameIsClipOrFill) {
    const EndCase& c = GetParam();
    Rig rig(c.bundle, 2, 40, 30);
    rig.Start();
    ASSERT_EQ(rig.Frame(c.renderFrame, c.frameCount, 3), kPluginOK);
    if (c.renderFrame == 0) {
        EXPECT_EQ(RandCalls(), 0);
    }
    const std::vector<uint32_t> pixels = rig.OutPixels();
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            ASSERT_EQ(pixels[y * 40 + x], c.showsClip ? PatternClips::Pixel(3 + c.renderFrame, x, y)
                                                      : FillPixel(c.bundle))
                << x << "," << y;
}

std::vector<EndCase> EndCases() {
    std::vector<EndCase> cases;
    for (const std::string& b : kSingleClipBundles) {
        const bool reveal = IsReveal(b);
        cases.push_back({b, 9, 10, reveal});   // last frame
        cases.push_back({b, 0, 10, !reveal});  // first frame
        cases.push_back({b, 0, 3, !reveal});
        cases.push_back({b, 0, 2, true});    // 50 %: clip first in both
        cases.push_back({b, 0, 1, reveal});  // 100 % at once
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Ends, FirstAndLast, ::testing::ValuesIn(EndCases()));

TEST(Boundary, WhiteAndBlackDrawTheSamePattern) {
    for (auto [white, black] : {std::pair{"boxrevealwhite", "boxrevealblack"},
                                std::pair{"boxconcealwhite", "boxconcealblack"}}) {
        for (int32_t frame : {2, 7}) {
            std::vector<bool> masks[2];
            int i = 0;
            for (const char* b : {white, black}) {
                Rig rig(b, 1, 40, 24);
                rig.Start();
                ResetRand(42);
                ASSERT_EQ(rig.Frame(frame, 10), kPluginOK);
                const std::vector<uint32_t> pixels = rig.OutPixels();
                for (int p = 0; p < 40 * 24; ++p) {
                    const bool filled = pixels[p] == FillPixel(b);
                    if (!filled) {
                        ASSERT_EQ(pixels[p], PatternClips::Pixel(frame, p % 40, p / 40));
                    }
                    masks[i].push_back(filled);
                }
                ++i;
            }
            EXPECT_EQ(masks[0], masks[1]) << white << " frame " << frame;
            EXPECT_NE(std::count(masks[0].begin(), masks[0].end(), true), 0);
            EXPECT_NE(std::count(masks[0].begin(), masks[0].end(), false), 0);
        }
    }
}

// --- Audio. ---

struct LevelCase {
    int32_t renderFrame, frameCount;
    int32_t volume;  // taken as the 16-bit volume; 32 bits leave no padding to print
    int32_t level;
};

void PrintTo(const LevelCase& c, std::ostream* os) {
    *os << "frame " << c.renderFrame << " of " << c.frameCount << " volume " << c.volume;
}

class ScatterLevels : public ::testing::TestWithParam<LevelCase> {};

TEST_P(ScatterLevels, FirstClipFallsSecondStaysFull) {
    const LevelCase& c = GetParam();
    Rig rig("boxscatter", 2, 16, 8);
    rig.clips.volume = int16_t(c.volume);
    rig.Start();
    ASSERT_EQ(rig.Frame(c.renderFrame, c.frameCount, 10), kPluginOK);
    const auto mixes = rig.rec.CallsOf(Svc::MixAudio);
    ASSERT_EQ(mixes.size(), 2u);
    EXPECT_EQ(mixes[0].a, c.level);
    EXPECT_EQ(mixes[1].a, 256);
    // The host mixed both into the output frame's sound.
    const int32_t f1 = 10 + c.renderFrame;
    const float expected = PatternClips::Sample(f1) * float(c.level) / 256.0f +
                           PatternClips::Sample(f1 + c.frameCount);
    EXPECT_FLOAT_EQ(rig.host.OutputAudio()[0], expected);
}

INSTANTIATE_TEST_SUITE_P(Levels, ScatterLevels,
                         ::testing::Values(LevelCase{0, 10, 255, 230}, LevelCase{4, 10, 255, 128},
                                           LevelCase{0, 4, 100, 75}, LevelCase{9, 10, 255, 0},
                                           LevelCase{-5, 10, 255, 256},  // before the transition
                                           LevelCase{15, 10, 255, 0},    // after it
                                           LevelCase{0, 10, -40, 0},     // negative volume
                                           LevelCase{0, 10, 1000, 256}));

class ScatterFade : public ::testing::TestWithParam<int32_t> {};

// Frame after frame, the first clip's sound falls without a step: within a
// frame its level moves from the previous frame's to the frame's own, which
// it reaches on the frame's last sample; the second clip's stays full.
TEST_P(ScatterFade, FallsSmoothlyAcrossEveryFrame) {
    const int32_t frames = GetParam();
    Rig rig("boxscatter", 2, 16, 8);
    rig.Start();
    const size_t floats = tavhost::OutputFormat{}.FloatsPerFrame();
    const int channels = tavhost::OutputFormat{}.sound.channels;
    float last = -1.0f;
    for (int32_t i = 0; i < frames; ++i) {
        rig.host.ClearOutputAudio(floats);
        ASSERT_EQ(rig.Frame(i, frames, 10), kPluginOK);
        const std::vector<float>& out = rig.host.OutputAudio();
        ASSERT_EQ(out.size(), floats);
        const float a = PatternClips::Sample(10 + i), b = PatternClips::Sample(10 + frames + i);
        const float level = float(int32_t((1.0 - double(i + 1) / frames) * 256)) / 256.0f;
        const float step = last < 0 ? 0.0f : std::abs(level - last) / float(floats / channels);
        float previous = last < 0 ? level : last;
        for (size_t k = 0; k < out.size(); k += size_t(channels)) {
            const float gain = (out[k] - b) / a;
            ASSERT_LE(std::abs(gain - previous), step + 1e-3f) << "frame " << i << " sample " << k;
            previous = gain;
        }
        EXPECT_NEAR(previous, level, 1e-3f) << "frame " << i;
        last = level;
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, ScatterFade, ::testing::Values(2, 10, 37));

TEST(Audio, SingleClipAlwaysMixesAtFullLevel) {
    for (const std::string& b : kSingleClipBundles) {
        Rig rig(b, 2, 16, 8);
        rig.clips.volume = 100;
        rig.Start();
        for (int32_t f : {0, 4, 9}) ASSERT_EQ(rig.Frame(f, 10), kPluginOK);
        const auto mixes = rig.rec.CallsOf(Svc::MixAudio);
        ASSERT_EQ(mixes.size(), 3u) << b;
        for (const ServiceCall& m : mixes) EXPECT_EQ(m.a, 256) << b;
        // Mixed before any drawing.
        EXPECT_EQ(rig.rec.Calls()[1].svc, Svc::MixAudio) << b;
    }
}

TEST(Audio, PreviewMixesNothingAndAsksLowQualityUpTo259Lines) {
    for (const std::string& b : kAllBundles) {
        for (auto [height, proxy, quality] :
             {std::tuple{259, true, 0}, std::tuple{260, true, 1}, std::tuple{100, false, 1}}) {
            Rig rig(b, 4, 24, height);
            rig.Start();
            rig.inst.DoFrame(0, 3, 10, rig.frameRect, proxy);
            EXPECT_EQ(rig.rec.Count(Svc::MixAudio), proxy ? 0 : (IsScatter(b) ? 2 : 1)) << b;
            for (const ServiceCall& g : rig.rec.CallsOf(Svc::GetFrame))
                EXPECT_EQ(g.d, quality) << b << " height " << height;
            EXPECT_EQ(rig.rec.Count(Svc::GetFrame), IsScatter(b) ? 2 : 1);
        }
    }
}

// --- Gates and refused input: nothing fetched, port back, colours untouched. ---

struct GateCase {
    std::string bundle;
    int16_t initWhich;   // variant at Initialize (sets the box size)
    int16_t frameWhich;  // variant at DoFrame
    int32_t startFrame, renderFrame, frameCount;
    int32_t result;
};

void PrintTo(const GateCase& c, std::ostream* os) {
    *os << c.bundle << " which " << c.initWhich << "/" << c.frameWhich << " frames " << c.startFrame
        << "+" << c.renderFrame << " of " << c.frameCount;
}

class Refused : public ::testing::TestWithParam<GateCase> {};

TEST_P(Refused, NothingFetchedOrDrawn) {
    const GateCase& c = GetParam();
    Rig rig(c.bundle, c.initWhich, 24, 16);
    rig.Start();
    tavhost::TransitionInstance other(LoadBundle(c.bundle), rig.host, c.frameWhich,
                                      rig.rec.Procs());
    other.Params().clientData = rig.P().clientData;
    rig.SetPortColours(kRed, kGreen);
    const std::vector<uint32_t> before = rig.OutPixels();
    SetGWorld(nullptr, nullptr);
    EXPECT_EQ(other.DoFrame(c.startFrame, c.renderFrame, c.frameCount, rig.frameRect), c.result);
    EXPECT_TRUE(rig.rec.Calls().empty());
    EXPECT_EQ(rig.Fore(), kRed);
    EXPECT_EQ(rig.Back(), kGreen);
    EXPECT_EQ(rig.OutPixels(), before);
    EXPECT_EQ(RandCalls(), 0);
    rig.ExpectClean();
}

INSTANTIATE_TEST_SUITE_P(
    Gates, Refused,
    ::testing::Values(
        GateCase{"boxscatter", 1, 0, 0, 3, 10, kPluginOK},
        GateCase{"boxscatter", 1, 5, 0, 3, 10, kPluginOK},
        GateCase{"boxscatter", 1, -1, 0, 3, 10, kPluginOK},
        GateCase{"boxrevealwhite", 1, 5, 0, 3, 10, kPluginOK},
        GateCase{"boxrevealblack", 1, 5, 0, 3, 10, kPluginOK},
        GateCase{"boxconcealwhite", 1, 5, 0, 3, 10, kPluginOK},
        GateCase{"boxconcealblack", 1, 5, 0, 3, 10, kPluginOK},
        GateCase{"boxrevealwhite", 1, 1, -4, 3, 10, kPluginFailed},  // frame -1
        GateCase{"boxscatter", 1, 1, -4, 3, 10, kPluginFailed},
        GateCase{"boxconcealblack", 1, 1, INT32_MAX, 1, 10, kPluginFailed},  // overflow
        GateCase{"boxscatter", 1, 1, INT32_MAX - 5, 0, 10, kPluginFailed},   // second clip
        GateCase{"boxrevealwhite", 0, 1, 0, 3, 10, kPluginBadParams},        // box 0
        GateCase{"boxconcealwhite", -3, 1, 0, 3, 10, kPluginBadParams},      // box -3
        GateCase{"boxrevealblack", 1, 1, 0, 3, 0, kPluginBadParams},         // no frames
        GateCase{"boxscatter", 1, 1, 0, 0, -1, kPluginBadParams}));

TEST(Refused, FirstFrameNumberZeroProceeds) {
    for (const std::string& b : kAllBundles) {
        Rig rig(b, 1, 8, 8);
        rig.Start();
        EXPECT_EQ(rig.Frame(3, 10, -3), kPluginOK);
        ASSERT_GE(rig.rec.CallsOf(Svc::GetFrame).size(), 1u);
        EXPECT_EQ(rig.rec.CallsOf(Svc::GetFrame)[0].a, 0);
    }
}

TEST(Refused, SuccessWithoutAWorldIsReleasedAndFails) {
    for (const std::string& b : kAllBundles) {
        Rig rig(b, 1, 8, 8);
        rig.Start();
        rig.SetPortColours(kRed, kGreen);
        const std::vector<uint32_t> before = rig.OutPixels();
        rig.rec.ReturnNull(Svc::GetFrame, 1);
        EXPECT_EQ(rig.Frame(3, 10), kPluginFailed) << b;
        EXPECT_EQ(Kinds(rig.rec.Calls()), (std::vector<Svc>{Svc::GetFrame, Svc::ReleaseFrame}));
        EXPECT_EQ(rig.OutPixels(), before);
        EXPECT_EQ(rig.Fore(), kRed);
        rig.ExpectClean();
    }
}

TEST(Refused, OutputPixelMapStateIsPutBack) {
    for (const std::string& b : kAllBundles) {
        Rig rig(b, 1, 8, 8);
        rig.Start();
        PixMapHandle pm = GetGWorldPixMap(rig.host.OutputWorld());
        for (bool locked : {false, true}) {
            if (locked) {
                LockPixels(pm);
                HLock(reinterpret_cast<Handle>(pm));
            }
            const GWorldFlags flags = GetPixelsState(pm);
            const SInt8 state = HGetState(reinterpret_cast<Handle>(pm));
            ASSERT_EQ(rig.Frame(3, 10), kPluginOK);
            EXPECT_EQ(GetPixelsState(pm), flags);
            EXPECT_EQ(HGetState(reinterpret_cast<Handle>(pm)), state);
        }
        rig.ExpectClean();
    }
}

}  // namespace
}  // namespace tavtest
