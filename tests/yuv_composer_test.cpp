// Transition frames composed in the movie's YUV against the same frames drawn
// in the worlds' pixels and converted: every bundle, box sizes 2 to 16,
// frames of even and odd size. The two agree to within what converting a
// clip's picture to pixels and back loses on its own (measured in the same
// run; 50 dB where that loses less), and every box of the YUV frame holds
// exactly the samples of the clip (or the colour) it shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
}

#include "bundle_random.h"
#include "clip_reader.h"
#include "host.h"
#include "instance.h"
#include "loaded_bundle.h"
#include "picture_convert.h"
#include "timeline_frames.h"
#include "yuv_composer.h"

namespace tavtest {
namespace {

using tavhost::media::Frame;
using tavhost::media::Matrix;

// A decoded picture as a clip gives it: smooth shading with soft waves,
// converted to YUV with the output's matrix.
std::unique_ptr<Frame> ClipPicture(int w, int h, int salt, Matrix matrix) {
    std::vector<uint32_t> rgb(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double wave = 12.0 * std::sin(x * 0.21 + salt) * std::cos(y * 0.17);
            auto level = [](double v) { return uint32_t(std::clamp(v, 0.0, 255.0)); };
            const uint32_t r = level(30 + (x * 120.0) / std::max(1, w) + salt + wave);
            const uint32_t g = level(60 + (y * 120.0) / std::max(1, h) - wave);
            const uint32_t b = level(160 - salt / 2 + wave);
            rgb[size_t(y) * size_t(w) + size_t(x)] = 0xFF000000u | r << 16 | g << 8 | b;
        }
    AVFrame* yuv = av_frame_alloc();
    yuv->format = AV_PIX_FMT_YUV420P;
    yuv->width = w;
    yuv->height = h;
    EXPECT_GE(av_frame_get_buffer(yuv, 0), 0);
    tavhost::media::RgbToYuv(rgb.data(), w, w, h, yuv, matrix);
    auto frame = std::make_unique<Frame>();
    frame->width = w;
    frame->height = h;
    frame->matrix = matrix;
    frame->picture.reset(yuv, [](const AVFrame* f) {
        AVFrame* owned = const_cast<AVFrame*>(f);
        av_frame_free(&owned);
    });
    return frame;
}

// Frames 0.. of the transition: first clip's picture below the second clip's
// number, the second's from it on.
class TwoPictures : public tavhost::FrameProvider {
  public:
    TwoPictures(const Frame& a, const Frame& b, int32_t secondFrom)
        : a_(a), b_(b), secondFrom_(secondFrom) {}
    const Frame* Of(int32_t number) const { return number < secondFrom_ ? &a_ : &b_; }
    TavPluginResult ProvideFrame(int32_t number, bool lowQuality, PixMap* picture,
                                 std::vector<float>& audio, int16_t& volume) override {
        if (picture && !tavhost::DrawFrameInto(*Of(number), *picture, lowQuality))
            return kPluginCantGetNeededFrame;
        audio.clear();
        volume = 255;
        return kPluginOK;
    }

  private:
    const Frame &a_, &b_;
    int32_t secondFrom_;
};

double Psnr(const AVFrame* a, const AVFrame* b, int plane, int w, int h) {
    double sum = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double d = double(a->data[plane][y * a->linesize[plane] + x]) -
                             double(b->data[plane][y * b->linesize[plane] + x]);
            sum += d * d;
        }
    const double mse = sum / double(w * h);
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

using Case = std::tuple<std::string, int, int, int>;  // bundle, variant, width, height

class YuvComposition : public ::testing::TestWithParam<Case> {};

TEST_P(YuvComposition, MatchesTheWorldsAndKeepsTheClipsSamples) {
    const auto& [name, which, w, h] = GetParam();
    const Matrix matrix = tavhost::media::OutputMatrix(h);
    const auto a = ClipPicture(w, h, 10, matrix), b = ClipPicture(w, h, 90, matrix);
    constexpr int32_t kFrames = 12;
    TwoPictures pictures(*a, *b, kFrames);
    std::string error;
    const auto bundle = tavhost::Bundle::Open(name, &error);
    ASSERT_TRUE(bundle) << error;

    tavhost::media::AvFramePtr direct(av_frame_alloc());
    direct->format = AV_PIX_FMT_YUV420P;
    direct->width = w;
    direct->height = h;
    ASSERT_GE(av_frame_get_buffer(direct.get(), 0), 0);
    tavhost::YuvComposer composer([&](int32_t n) { return pictures.Of(n); }, w, h, matrix);
    // What the worlds' way loses on a clip's picture alone (to pixels and
    // back): the two ways may differ by that much, and by no more than 50 dB.
    double roundTrip[3] = {99.0, 99.0, 99.0};
    for (const Frame* clip : {a.get(), b.get()}) {
        std::vector<uint32_t> rgb(size_t(w) * size_t(h));
        tavhost::media::YuvToRgb(clip->Yuv(), rgb.data(), w, matrix);
        tavhost::media::RgbToYuv(rgb.data(), w, w, h, direct.get(), matrix);
        for (int p = 0; p < 3; ++p)
            roundTrip[p] = std::min(roundTrip[p], Psnr(direct.get(), clip->Yuv(), p,
                                                       p ? (w + 1) / 2 : w, p ? (h + 1) / 2 : h));
    }
    const Rect rect = {0, 0, int16_t(h), int16_t(w)};
    int composedFrames = 0;
    for (const int32_t frame : {0, 3, 6, 11}) {
        SCOPED_TRACE("frame " + std::to_string(frame));
        // The worlds' way: drawn into pixels, then converted.
        {
            tavhost::Host host;
            host.SetProvider(&pictures);
            host.SetDrawing(tavhost::Drawing::kDirect);
            host.EnsureOutputWorld(w, h);
            tavhost::TransitionInstance inst(*bundle, host, int16_t(which));
            inst.GetInfo(0.5f);
            inst.Initialize();
            tavhost::SeedBundleRandom(77 + unsigned(frame));
            ASSERT_EQ(inst.DoFrame(0, frame, kFrames, rect), kPluginOK);
            const PixMap& pm = **GetGWorldPixMap(host.OutputWorld());
            tavhost::media::RgbToYuv(pm.baseAddr, pm.rowBytes / 4, w, h, direct.get(), matrix);
        }
        tavhost::Host host;
        host.SetProvider(&pictures);
        host.SetDrawing(tavhost::Drawing::kRecorded);
        host.ComposeLater(true);
        host.EnsureOutputWorld(w, h);
        tavhost::TransitionInstance inst(*bundle, host, int16_t(which));
        inst.GetInfo(0.5f);
        inst.Initialize();
        tavhost::SeedBundleRandom(77 + unsigned(frame));
        ASSERT_EQ(inst.DoFrame(0, frame, kFrames, rect), kPluginOK);
        ASSERT_TRUE(composer.Prepare());
        if (host.Compose(&composer) != tavhost::Composed::kTarget) continue;
        ++composedFrames;
        const AVFrame* yuv = composer.Picture();
        const int cw = (w + 1) / 2, ch = (h + 1) / 2;
        for (int p = 0; p < 3; ++p)
            EXPECT_GE(Psnr(yuv, direct.get(), p, p ? cw : w, p ? ch : h),
                      std::min(50.0, roundTrip[p] - 1.0))
                << "plane " << p;

        // Each box: the samples of the layer the recording says it shows.
        const tavhost::FrameRecording& r = host.Recorded();
        ASSERT_EQ(r.Operations().size(), 1u);
        for (int p = 0; p < 3; ++p) {
            const int s = p ? 1 : 0, pw = p ? cw : w, ph = p ? ch : h;
            for (int y = 0; y < ph; ++y)
                for (int x = 0; x < pw; ++x) {
                    int layer = r.Operations()[0].layer;
                    if (r.Rows() > 0) {
                        const uint8_t cell = r.BoxRow((y << s) / r.Step())[(x << s) / r.Step()];
                        if (cell) layer = cell - 1;
                    }
                    const tavhost::Layer& l = r.Layers()[size_t(layer)];
                    uint32_t want[3] = {0, 0, 0};
                    if (l.fill) {
                        composer.FillSamples(l.pixel, want);
                    } else {
                        const AVFrame* clip = pictures.Of(l.number)->Yuv();
                        want[p] = clip->data[p][y * clip->linesize[p] + x];
                    }
                    ASSERT_EQ(yuv->data[p][y * yuv->linesize[p] + x], want[p])
                        << "plane " << p << " at " << x << "," << y;
                }
        }
    }
    EXPECT_GT(composedFrames, 0) << "no frame was composed in YUV";
}

INSTANTIATE_TEST_SUITE_P(
    Bundles, YuvComposition,
    ::testing::Values(Case{"boxscatter", 1, 64, 48}, Case{"boxscatter", 4, 1280, 720},
                      Case{"boxscatter", 1, 37, 29}, Case{"boxrevealwhite", 1, 64, 48},
                      Case{"boxrevealblack", 4, 1280, 720}, Case{"boxconcealwhite", 2, 38, 30},
                      Case{"boxconcealblack", 1, 37, 29}),
    [](const ::testing::TestParamInfo<Case>& info) {
        return std::get<0>(info.param) + "_variant" + std::to_string(std::get<1>(info.param)) +
               "_" + std::to_string(std::get<2>(info.param)) + "x" +
               std::to_string(std::get<3>(info.param));
    });

}  // namespace
}  // namespace tavtest
