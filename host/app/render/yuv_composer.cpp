#include "yuv_composer.h"

#include <new>
#include <utility>

#include "clip_reader.h"

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
}

namespace tavhost {

YuvComposer::YuvComposer(FrameOf frames, int width, int height, media::Matrix matrix)
    : frames_(std::move(frames)), width_(width), height_(height), matrix_(matrix) {
    const int chromaW = (width + 1) / 2, chromaH = (height + 1) / 2;
    // Rows padded to 64 bytes, as FFmpeg's own pictures are.
    linesize_[0] = (width + 63) / 64 * 64;
    linesize_[1] = linesize_[2] = (chromaW + 63) / 64 * 64;
    const size_t sizes[3] = {size_t(linesize_[0]) * size_t(height),
                             size_t(linesize_[1]) * size_t(chromaH),
                             size_t(linesize_[2]) * size_t(chromaH)};
    for (int p = 0; p < 3; ++p) {
        pools_[p] = av_buffer_pool_init(sizes[p], nullptr);
        if (!pools_[p]) throw std::bad_alloc();
    }
}

YuvComposer::~YuvComposer() {
    picture_.reset();
    for (AVBufferPool*& pool : pools_) av_buffer_pool_uninit(&pool);
}

bool YuvComposer::Prepare() {
    picture_.reset(av_frame_alloc());
    if (!picture_) return false;
    AVFrame* f = picture_.get();
    f->format = AV_PIX_FMT_YUV420P;
    f->width = width_;
    f->height = height_;
    f->color_range = AVCOL_RANGE_MPEG;
    for (int p = 0; p < 3; ++p) {
        f->buf[p] = av_buffer_pool_get(pools_[p]);
        if (!f->buf[p]) return false;
        f->data[p] = f->buf[p]->data;
        f->linesize[p] = linesize_[p];
    }
    return true;
}

PlaneImage YuvComposer::Image() {
    PlaneImage image;
    for (int p = 0; p < 3; ++p) {
        image.data[p] = picture_->data[p];
        image.stride[p] = picture_->linesize[p];
    }
    return image;
}

bool YuvComposer::Source(int32_t number, bool, int32_t width, int32_t height, PlaneImage* image) {
    if (width != width_ || height != height_) return false;
    const media::Frame* frame = frames_(number);
    const AVFrame* yuv = frame ? frame->Yuv() : nullptr;
    // The clip's decoded picture, when it is the output's size and in its matrix.
    if (!yuv || yuv->width != width_ || yuv->height != height_ || frame->matrix != matrix_)
        return false;
    for (int p = 0; p < 3; ++p) {
        image->data[p] = yuv->data[p];
        image->stride[p] = yuv->linesize[p];
    }
    return true;
}

void YuvComposer::FillSamples(uint32_t pixel, uint32_t samples[3]) {
    if (!haveColour_ || pixel != lastPixel_) {
        // The colour converted as a picture of it would be.
        if (!colour_) {
            colour_.reset(av_frame_alloc());
            if (!colour_) throw std::bad_alloc();
            colour_->format = AV_PIX_FMT_YUV420P;
            colour_->width = colour_->height = 2;
            if (av_frame_get_buffer(colour_.get(), 0) < 0) throw std::bad_alloc();
        }
        const uint32_t block[4] = {pixel, pixel, pixel, pixel};
        media::RgbToYuv(block, 2, 2, 2, colour_.get(), matrix_);
        for (int p = 0; p < 3; ++p) lastSamples_[p] = colour_->data[p][0];
        lastPixel_ = pixel;
        haveColour_ = true;
    }
    for (int p = 0; p < 3; ++p) samples[p] = lastSamples_[p];
}

}  // namespace tavhost
