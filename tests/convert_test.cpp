// Pictures between the plug-ins' pixels and the encoder's YUV: every sample
// within a level of the exact formula, for both matrices, at odd and even
// sizes; and back again close to where they started. And the host's own
// rand(), number for number the C library's.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>

#include "picture_convert.h"
#include "random_sequence.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace tavtest {
namespace {

using tavhost::media::Matrix;

struct ConvertCase {
    Matrix matrix;
    int width, height;
};

void PrintTo(const ConvertCase& c, std::ostream* os) {
    *os << (c.matrix == Matrix::kBt709 ? "bt709 " : "bt601 ") << c.width << "x" << c.height;
}

class Convert : public ::testing::TestWithParam<ConvertCase> {
  protected:
    void SetUp() override {
        const ConvertCase& c = GetParam();
        frame_ = av_frame_alloc();
        frame_->format = AV_PIX_FMT_YUV420P;
        frame_->width = c.width;
        frame_->height = c.height;
        ASSERT_GE(av_frame_get_buffer(frame_, 0), 0);
        std::mt19937 random(7);
        pixels_.resize(size_t(c.width) * size_t(c.height));
        for (uint32_t& p : pixels_) p = 0xFF000000u | (random() & 0xFFFFFFu);
    }
    void TearDown() override { av_frame_free(&frame_); }

    // Kr and Kb of the matrix.
    static std::pair<double, double> K(Matrix m) {
        return m == Matrix::kBt709 ? std::pair{0.2126, 0.0722} : std::pair{0.299, 0.114};
    }
    double R(int x, int y) const { return (Pixel(x, y) >> 16) & 255; }
    double G(int x, int y) const { return (Pixel(x, y) >> 8) & 255; }
    double B(int x, int y) const { return Pixel(x, y) & 255; }
    uint32_t Pixel(int x, int y) const {
        const ConvertCase& c = GetParam();
        return pixels_[size_t(std::min(y, c.height - 1)) * size_t(c.width) +
                       size_t(std::min(x, c.width - 1))];
    }

    AVFrame* frame_ = nullptr;
    std::vector<uint32_t> pixels_;
};

TEST_P(Convert, YuvWithinALevelOfTheFormula) {
    const ConvertCase& c = GetParam();
    tavhost::media::RgbToYuv(pixels_.data(), c.width, c.width, c.height, frame_, c.matrix);
    const auto [kr, kb] = K(c.matrix);
    const double kg = 1 - kr - kb;
    double worstY = 0, worstC = 0;
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x) {
            const double want = 16 + 219.0 / 255 * (kr * R(x, y) + kg * G(x, y) + kb * B(x, y));
            worstY =
                std::max(worstY, std::abs(frame_->data[0][y * frame_->linesize[0] + x] - want));
        }
    // Chroma of each 2x2 block (the BT.601 path takes libyuv's rounding).
    for (int y = 0; y + 1 < c.height; y += 2)
        for (int x = 0; x + 1 < c.width; x += 2) {
            double r = 0, g = 0, b = 0;
            for (int dy = 0; dy < 2; ++dy)
                for (int dx = 0; dx < 2; ++dx) {
                    r += R(x + dx, y + dy) / 4;
                    g += G(x + dx, y + dy) / 4;
                    b += B(x + dx, y + dy) / 4;
                }
            const double yy = kr * r + kg * g + kb * b;
            const double cb = 128 + 224.0 / 255 * (b - yy) / (2 * (1 - kb));
            const double cr = 128 + 224.0 / 255 * (r - yy) / (2 * (1 - kr));
            worstC = std::max(
                {worstC, std::abs(frame_->data[1][y / 2 * frame_->linesize[1] + x / 2] - cb),
                 std::abs(frame_->data[2][y / 2 * frame_->linesize[2] + x / 2] - cr)});
        }
    // Our BT.709 loops round in 14-bit fixed point; libyuv's BT.601 in 8 bits.
    EXPECT_LE(worstY, c.matrix == Matrix::kBt709 ? 0.6 : 1.0);
    EXPECT_LE(worstC, c.matrix == Matrix::kBt709 ? 0.6 : 2.0);
}

// Smooth pictures survive the trip to YUV and back (chroma is shared by
// 2x2 blocks, so noise would not): within a few levels on average, at worst
// ten at the edges, where chroma has no neighbour on one side.
TEST_P(Convert, BackToPixelsCloseToTheStart) {
    const ConvertCase& c = GetParam();
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x)
            pixels_[size_t(y) * size_t(c.width) + size_t(x)] =
                0xFF000000u | uint32_t(40 + x * 150 / c.width) << 16 |
                uint32_t(60 + y * 120 / c.height) << 8 | uint32_t(200 - x * 100 / c.width);
    tavhost::media::RgbToYuv(pixels_.data(), c.width, c.width, c.height, frame_, c.matrix);
    for (const bool fast : {false, true}) {
        std::vector<uint32_t> back(pixels_.size() + 7, 0u);
        tavhost::media::YuvToRgb(frame_, back.data(), c.width, c.matrix, fast);
        int worst = 0;
        double sum = 0;
        for (size_t i = 0; i < pixels_.size(); ++i)
            for (int shift : {0, 8, 16}) {
                const int d =
                    std::abs(int((back[i] >> shift) & 255) - int((pixels_[i] >> shift) & 255));
                worst = std::max(worst, d);
                sum += d;
            }
        EXPECT_LE(worst, 10) << (fast ? "fast" : "exact");
        EXPECT_LE(sum / double(pixels_.size() * 3), 2.5) << (fast ? "fast" : "exact");
        EXPECT_EQ(back[pixels_.size()], 0u) << "written past the last pixel";
        EXPECT_EQ(back[0] >> 24, 0xFFu);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, Convert,
                         ::testing::Values(ConvertCase{Matrix::kBt709, 1280, 720},
                                           ConvertCase{Matrix::kBt709, 90, 34},
                                           ConvertCase{Matrix::kBt709, 91, 35},
                                           ConvertCase{Matrix::kBt601, 640, 360},
                                           ConvertCase{Matrix::kBt601, 33, 17}));

}  // namespace
}  // namespace tavtest

namespace tavtest {
namespace {

// The host's rand() gives the C library's numbers for every seed.
TEST(RandomSequence, IsTheCLibrarysSequence) {
    for (const uint32_t seed : {0u, 1u, 5u, 77u, 2147483647u, 2147483648u, 4294967295u}) {
        char state[128];
        random_data data{};
        ASSERT_EQ(initstate_r(seed, state, sizeof state, &data), 0);
        tavhost::RandomSequence ours(seed);
        for (int i = 0; i < 100000; ++i) {
            int32_t theirs = 0;
            random_r(&data, &theirs);
            ASSERT_EQ(ours.Next(), theirs) << "seed " << seed << ", number " << i;
        }
    }
}

}  // namespace
}  // namespace tavtest
