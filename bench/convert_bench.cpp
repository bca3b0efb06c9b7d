// Converting frames between the plug-ins' pixels and the encoder's YUV, per
// size and matrix: what the host uses beside swscale's generic path.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "picture_convert.h"

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace {

using tavhost::media::Matrix;

struct Frames {
    Frames(int w, int h) : pixels(size_t(w) * size_t(h)) {
        for (size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = 0xFF000000u | uint32_t(i * 2654435761u);
        yuv = av_frame_alloc();
        yuv->format = AV_PIX_FMT_YUV420P;
        yuv->width = w;
        yuv->height = h;
        if (av_frame_get_buffer(yuv, 0) < 0) throw std::bad_alloc();
    }
    ~Frames() { av_frame_free(&yuv); }
    std::vector<uint32_t> pixels;
    AVFrame* yuv;
};

void ToYuv(benchmark::State& state, int w, int h, Matrix matrix) {
    Frames f(w, h);
    for (auto _ : state) {
        tavhost::media::RgbToYuv(f.pixels.data(), w, w, h, f.yuv, matrix);
        benchmark::ClobberMemory();
    }
}

// swscale's generic path, as the host used before.
void ToYuvSwscale(benchmark::State& state, int w, int h, Matrix matrix) {
    Frames f(w, h);
    SwsContext* sws = sws_getContext(w, h, AV_PIX_FMT_RGB32, w, h, AV_PIX_FMT_YUV420P, SWS_BILINEAR,
                                     nullptr, nullptr, nullptr);
    const int* table =
        sws_getCoefficients(matrix == Matrix::kBt709 ? SWS_CS_ITU709 : SWS_CS_ITU601);
    sws_setColorspaceDetails(sws, table, 1, table, 0, 0, 1 << 16, 1 << 16);
    const uint8_t* src[1] = {reinterpret_cast<const uint8_t*>(f.pixels.data())};
    const int stride[1] = {w * 4};
    for (auto _ : state) {
        sws_scale(sws, src, stride, 0, h, f.yuv->data, f.yuv->linesize);
        benchmark::ClobberMemory();
    }
    sws_freeContext(sws);
}

void ToPixels(benchmark::State& state, int w, int h, Matrix matrix, bool fast) {
    Frames f(w, h);
    tavhost::media::RgbToYuv(f.pixels.data(), w, w, h, f.yuv, matrix);
    for (auto _ : state) {
        tavhost::media::YuvToRgb(f.yuv, f.pixels.data(), w, matrix, fast);
        benchmark::ClobberMemory();
    }
}

int Register() {
    for (auto [w, h] : {std::pair{854, 480}, std::pair{1280, 720}, std::pair{1920, 1080}}) {
        const Matrix matrix = tavhost::media::OutputMatrix(h);
        const std::string size =
            std::to_string(w) + "x" + std::to_string(h) + "/" + tavhost::media::MatrixName(matrix);
        benchmark::RegisterBenchmark(("convert/to_yuv/" + size).c_str(), ToYuv, w, h, matrix)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("convert/to_yuv_swscale/" + size).c_str(), ToYuvSwscale, w, h,
                                     matrix)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("convert/to_pixels/" + size).c_str(), ToPixels, w, h, matrix,
                                     false)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("convert/to_pixels_fast/" + size).c_str(), ToPixels, w, h,
                                     matrix, true)
            ->Unit(benchmark::kMicrosecond);
    }
    return 0;
}

const int registered = Register();

}  // namespace
