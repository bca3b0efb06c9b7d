// The reader: a decoding thread per clip that keeps a few frames ahead.
#include "clip_reader.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "clip_frames.h"
#include "picture_convert.h"
#include "user_text.h"

namespace tavhost::media {

const AVFrame* Frame::Yuv() const {
    return picture && picture->format == AV_PIX_FMT_YUV420P ? picture.get() : nullptr;
}

const std::vector<uint32_t>& Frame::Pixels(bool fast) const {
    if (converted) return pixels;
    // Every pixel is written below: the buffer is only sized, not filled.
    pixels.resize(size_t(width) * size_t(height));
    if (const AVFrame* yuv = Yuv()) {
        YuvToRgb(yuv, pixels.data(), width, matrix, fast);
    } else if (picture) {
        for (int y = 0; y < height; ++y)
            std::memcpy(pixels.data() + size_t(y) * size_t(width),
                        picture->data[0] + ptrdiff_t(y) * picture->linesize[0], size_t(width) * 4);
    } else {
        std::fill(pixels.begin(), pixels.end(), 0xFF000000u);
    }
    converted = true;
    return pixels;
}

std::string ClipReader::Shown() const {
    return options_.shown.empty() ? Quoted(path_) : options_.shown;
}

ClipReader::ClipReader(std::string path, Options options, ClipInfo info)
    : path_(std::move(path)), options_(options), info_(std::move(info)) {
    frameCount_ = OutputFrames(info_, options_);
}

double TrimmedSeconds(const ClipInfo& info, const ClipReader::Options& options) {
    if (info.still) return options.stillSeconds;
    const double out =
        options.outSeconds >= 0 ? std::min(options.outSeconds, info.seconds) : info.seconds;
    return std::max(0.0, out - std::max(0.0, options.inSeconds));
}

int64_t OutputFrames(const ClipInfo& info, const ClipReader::Options& options) {
    return std::max<int64_t>(
        1, std::llround(TrimmedSeconds(info, options) * options.output.fps.Value()));
}

bool ClipReader::EndsEarly() const {
    return !info_.still && options_.outSeconds >= 0 && options_.outSeconds < info_.seconds;
}

std::unique_ptr<ClipReader> ClipReader::Open(const std::string& path, const Options& options,
                                             std::string* error) {
    ClipInfo info;
    if (!Probe(path, &info, error)) return nullptr;
    return Open(path, info, options, error);
}

std::unique_ptr<ClipReader> ClipReader::Open(const std::string& path, const ClipInfo& info,
                                             const Options& options, std::string* error) {
    if (options.output.width <= 0 || options.output.height <= 0 || options.output.fps.num <= 0 ||
        options.output.fps.den <= 0 || options.output.sound.rate <= 0 ||
        options.output.sound.channels <= 0) {
        *error = "clip " + (options.shown.empty() ? Quoted(path) : options.shown) +
                 ": no output size or rate";
        return nullptr;
    }
    std::unique_ptr<ClipReader> reader(new ClipReader(path, options, info));
    reader->Start();
    return reader;
}

ClipReader::~ClipReader() {
    Stop();
}

Damage ClipReader::DamageFound() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return done_ || stop_; });
    return damage_;
}

Damage ClipReader::DamageUntilNow() {
    Stop();
    std::lock_guard lock(mutex_);
    return damage_;
}

void ClipReader::Start() {
    stop_ = false;
    done_ = false;
    threadError_.clear();
    thread_ = std::thread([this] { Run(); });
}

void ClipReader::Stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
    for (auto& f : queue_) spare_.push_back(std::move(f));
    queue_.clear();
}

void ClipReader::Run() {
    std::string failure;
    // Nothing thrown on this thread may end the program: it becomes the
    // clip's error, said by the reader's user.
    try {
        Decode();
    } catch (const std::bad_alloc&) {
        failure = "out of memory";
    } catch (const std::exception& e) {
        failure = e.what();
    }
    // However decoding ended, waiters learn it is over.
    std::lock_guard lock(mutex_);
    if (!failure.empty() && threadError_.empty()) threadError_ = "clip " + Shown() + ": " + failure;
    done_ = true;
    changed_.notify_all();
}

void ClipReader::Decode() {
    std::string error;
    std::unique_ptr<ClipFrames> frames = ClipFrames::Open(path_, info_, options_, &error);
    if (!frames) {
        std::lock_guard lock(mutex_);
        threadError_ = error;
        done_ = true;
        changed_.notify_all();
        return;
    }
    auto stopping = [&] {
        if (options_.cancel && *options_.cancel) return true;
        std::lock_guard lock(mutex_);
        return stop_;
    };
    for (;;) {
        std::unique_ptr<Frame> frame;
        {
            std::lock_guard lock(mutex_);
            if (!spare_.empty()) {
                frame = std::move(spare_.back());
                spare_.pop_back();
            }
        }
        if (!frame) frame = std::make_unique<Frame>();
        const ClipFrames::Made made = frames->Next(frame.get(), stopping, &error);
        if (made == ClipFrames::Made::kStopped) return;
        if (made == ClipFrames::Made::kFailed) {
            std::lock_guard lock(mutex_);
            threadError_ = error;
            break;
        }
        if (made == ClipFrames::Made::kEnd) break;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return stop_ || int(queue_.size()) < options_.lookahead; });
            if (stop_) return;
            queue_.push_back(std::move(frame));
            damage_ = frames->DamageFound();
        }
        changed_.notify_all();
    }
    frames->ReadToEnd(stopping);
    std::lock_guard lock(mutex_);
    damage_ = frames->DamageFound();
    done_ = true;
    changed_.notify_all();
}

const Frame* ClipReader::Get(int64_t index, std::string* error) {
    if (index < 0 || index >= frameCount_) return nullptr;
    if (current_ && current_->index == index) return current_.get();
    bool restart = current_ && current_->index > index;
    {
        std::lock_guard lock(mutex_);
        if (!queue_.empty() && queue_.front()->index > index) restart = true;
    }
    if (restart) {
        Stop();
        if (current_) spare_.push_back(std::move(current_));
        Start();
    }
    std::unique_lock lock(mutex_);
    for (;;) {
        // Waits in short steps, so an interrupt is seen even while the
        // decoding thread is busy with a damaged stretch of the file.
        while (!changed_.wait_for(lock, std::chrono::milliseconds(100),
                                  [&] { return !queue_.empty() || done_; })) {
            if (options_.cancel && *options_.cancel) {
                *error = "interrupted";
                return nullptr;
            }
        }
        if (queue_.empty()) {
            if (!threadError_.empty()) *error = threadError_;
            return nullptr;
        }
        std::unique_ptr<Frame> next = std::move(queue_.front());
        queue_.pop_front();
        changed_.notify_all();
        if (current_) spare_.push_back(std::move(current_));
        current_ = std::move(next);
        if (current_->index == index) return current_.get();
        if (current_->index > index) return nullptr;
    }
}

}  // namespace tavhost::media
