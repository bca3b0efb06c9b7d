// Converting pictures between the plug-ins' 32-bit pixels (0xAARRGGBB) and
// the encoder's 8-bit 4:2:0 YUV, limited range, with the matrix players
// assume for the output's size. To YUV: libyuv for BT.601, our own loops
// (vectorised by the compiler, AVX2 where the processor has it) for BT.709,
// which libyuv converts only the other way. To pixels: swscale's exact path,
// or libyuv for previews.
#pragma once

#include <cstdint>

struct AVFrame;

namespace tavhost::media {

enum class Matrix { kBt601, kBt709 };

// The matrix of an output `height` lines high: BT.709 from 720 lines up.
Matrix OutputMatrix(int height);
// Its name as FFmpeg's scale filter takes it.
const char* MatrixName(Matrix matrix);

// Writes `width` x `height` pixels (rows `rowPixels` apart) into a YUV420P frame.
void RgbToYuv(const uint32_t* pixels, int rowPixels, int width, int height, AVFrame* yuv,
              Matrix matrix);
// Writes a YUV420P frame into pixels, rows `rowPixels` apart; alpha is
// opaque. swscale's bicubic path, or libyuv's much faster conversion, a
// little less exact, when `fast`.
void YuvToRgb(const AVFrame* yuv, uint32_t* pixels, int rowPixels, Matrix matrix,
              bool fast = false);

}  // namespace tavhost::media
