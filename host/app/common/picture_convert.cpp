#include "picture_convert.h"

#include <libyuv.h>

#include <cmath>
#include <cstring>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

// GCC vectorises the loops below at -O3, for AVX2 where the processor has
// it; other compilers build them as they are. ThreadSanitizer cannot run the
// clones' resolver, which the loader calls before the sanitizer is up.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && !defined(__SANITIZE_THREAD__)
#define TAV_VECTOR_LOOPS __attribute__((optimize("O3"), target_clones("avx2", "default")))
#else
#define TAV_VECTOR_LOOPS
#endif

namespace tavhost::media {

namespace {

// BT.709 RGB to limited-range Y'CbCr in 14-bit fixed point; chroma from the
// sum of each 2x2 block (hence 16 bits of shift).
struct Coefficients {
    int yr, yg, yb, ur, ug, ub, vr, vg, vb;
};

Coefficients Bt709() {
    constexpr double kr = 0.2126, kb = 0.0722, kg = 1 - kr - kb;
    constexpr double s = 1 << 14, ys = 219.0 / 255, cs = 224.0 / 255;
    auto r = [](double v) { return int(std::lround(v)); };
    return {r(kr * ys * s),
            r(kg * ys * s),
            r(kb * ys * s),
            r(-kr / (2 * (1 - kb)) * cs * s),
            r(-kg / (2 * (1 - kb)) * cs * s),
            r(0.5 * cs * s),
            r(0.5 * cs * s),
            r(-kg / (2 * (1 - kr)) * cs * s),
            r(-kb / (2 * (1 - kr)) * cs * s)};
}

// Two rows of pixels (bytes B, G, R, A) into two rows of luma and one of
// each chroma; plain loops the compiler turns into vector code.
TAV_VECTOR_LOOPS void Rows709(const uint8_t* __restrict b0, const uint8_t* __restrict b1,
                              uint8_t* __restrict y0, uint8_t* __restrict y1, uint8_t* __restrict u,
                              uint8_t* __restrict v, int width, const Coefficients& c) {
    for (int x = 0; x < width; ++x)
        y0[x] = uint8_t((c.yr * b0[4 * x + 2] + c.yg * b0[4 * x + 1] + c.yb * b0[4 * x] +
                         (16 << 14) + (1 << 13)) >>
                        14);
    for (int x = 0; x < width; ++x)
        y1[x] = uint8_t((c.yr * b1[4 * x + 2] + c.yg * b1[4 * x + 1] + c.yb * b1[4 * x] +
                         (16 << 14) + (1 << 13)) >>
                        14);
    for (int x = 0; x < width / 2; ++x) {
        const int r = b0[8 * x + 2] + b0[8 * x + 6] + b1[8 * x + 2] + b1[8 * x + 6];
        const int g = b0[8 * x + 1] + b0[8 * x + 5] + b1[8 * x + 1] + b1[8 * x + 5];
        const int b = b0[8 * x] + b0[8 * x + 4] + b1[8 * x] + b1[8 * x + 4];
        u[x] = uint8_t((c.ur * r + c.ug * g + c.ub * b + (128 << 16) + (1 << 15)) >> 16);
        v[x] = uint8_t((c.vr * r + c.vg * g + c.vb * b + (128 << 16) + (1 << 15)) >> 16);
    }
    if (width & 1) {  // the last column's chroma from its own two pixels
        const int x = width - 1;
        const int r = 2 * (b0[4 * x + 2] + b1[4 * x + 2]), g = 2 * (b0[4 * x + 1] + b1[4 * x + 1]),
                  b = 2 * (b0[4 * x] + b1[4 * x]);
        u[x / 2] = uint8_t((c.ur * r + c.ug * g + c.ub * b + (128 << 16) + (1 << 15)) >> 16);
        v[x / 2] = uint8_t((c.vr * r + c.vg * g + c.vb * b + (128 << 16) + (1 << 15)) >> 16);
    }
}

}  // namespace

Matrix OutputMatrix(int height) {
    return height >= 720 ? Matrix::kBt709 : Matrix::kBt601;
}

const char* MatrixName(Matrix matrix) {
    return matrix == Matrix::kBt709 ? "bt709" : "bt601";
}

void RgbToYuv(const uint32_t* pixels, int rowPixels, int width, int height, AVFrame* yuv,
              Matrix matrix) {
    const auto* src = reinterpret_cast<const uint8_t*>(pixels);
    const int stride = rowPixels * 4;
    if (matrix == Matrix::kBt601) {
        libyuv::ARGBToI420(src, stride, yuv->data[0], yuv->linesize[0], yuv->data[1],
                           yuv->linesize[1], yuv->data[2], yuv->linesize[2], width, height);
        return;
    }
    static const Coefficients c = Bt709();
    for (int row = 0; row < height; row += 2) {
        const bool pair = row + 1 < height;
        Rows709(src + ptrdiff_t(row) * stride, src + ptrdiff_t(pair ? row + 1 : row) * stride,
                yuv->data[0] + ptrdiff_t(row) * yuv->linesize[0],
                yuv->data[0] + ptrdiff_t(pair ? row + 1 : row) * yuv->linesize[0],
                yuv->data[1] + ptrdiff_t(row / 2) * yuv->linesize[1],
                yuv->data[2] + ptrdiff_t(row / 2) * yuv->linesize[2], width, c);
    }
}

void YuvToRgb(const AVFrame* yuv, uint32_t* pixels, int rowPixels, Matrix matrix, bool fast) {
    if (!fast) {
        // swscale's bicubic path, as FFmpeg itself converts. One context a
        // thread, kept while the size and matrix stay.
        struct Cached {
            SwsContext* sws = nullptr;
            int w = 0, h = 0;
            Matrix matrix = Matrix::kBt601;
            std::vector<uint8_t> scratch;
            ~Cached() { sws_freeContext(sws); }
        };
        thread_local Cached cached;
        if (!cached.sws || cached.w != yuv->width || cached.h != yuv->height ||
            cached.matrix != matrix) {
            sws_freeContext(cached.sws);
            cached.sws = nullptr;
            cached.sws =
                sws_getContext(yuv->width, yuv->height, AV_PIX_FMT_YUV420P, yuv->width, yuv->height,
                               AV_PIX_FMT_RGB32, SWS_BICUBIC, nullptr, nullptr, nullptr);
            if (cached.sws) {
                const int* table =
                    sws_getCoefficients(matrix == Matrix::kBt709 ? SWS_CS_ITU709 : SWS_CS_ITU601);
                sws_setColorspaceDetails(cached.sws, table, 0, table, 1, 0, 1 << 16, 1 << 16);
            }
            cached.w = yuv->width;
            cached.h = yuv->height;
            cached.matrix = matrix;
        }
        if (cached.sws) {
            // swscale writes whole vectors past a row's end: it converts into
            // rows with room to spare, which are then copied out.
            const int stride = (yuv->width * 4 + 63) / 64 * 64 + 64;
            cached.scratch.resize(size_t(stride) * size_t(yuv->height) + 64);
            uint8_t* dst[1] = {cached.scratch.data()};
            const int dstStride[1] = {stride};
            // When swscale cannot, the conversion below does it.
            if (sws_scale(cached.sws, yuv->data, yuv->linesize, 0, yuv->height, dst, dstStride) ==
                yuv->height) {
                for (int y = 0; y < yuv->height; ++y)
                    std::memcpy(pixels + ptrdiff_t(y) * rowPixels,
                                cached.scratch.data() + ptrdiff_t(y) * stride,
                                size_t(yuv->width) * 4);
                return;
            }
        }
    }
    libyuv::I420ToARGBMatrix(
        yuv->data[0], yuv->linesize[0], yuv->data[1], yuv->linesize[1], yuv->data[2],
        yuv->linesize[2], reinterpret_cast<uint8_t*>(pixels), rowPixels * 4,
        matrix == Matrix::kBt709 ? &libyuv::kYuvH709Constants : &libyuv::kYuvI601Constants,
        yuv->width, yuv->height);
}

}  // namespace tavhost::media
