// Encoding movies: H.264 video and AAC sound (VP9 and Opus in WebM) in one
// file; and, when asked, H.264 packets copied from the clips between the
// spans the encoder writes, and the clips' AAC packets where their sound
// goes in unchanged. The writer hands each kind of work to its part.
#include "movie_writer.h"

#include "clip_packet_recorder.h"
#include "muxer.h"
#include "part_seal.h"
#include "sound_splicer.h"
#include "sound_track.h"
#include "user_text.h"
#include "video_track.h"

namespace tavhost::media {

MovieWriter::~MovieWriter() = default;

std::unique_ptr<MovieWriter> MovieWriter::Open(const std::string& path, const Options& options,
                                               std::string* error) {
    std::unique_ptr<MovieWriter> writer(new MovieWriter());
    if (!writer->Start(path, options, error)) return nullptr;
    return writer;
}

bool MovieWriter::Start(const std::string& path, const Options& options, std::string* error) {
    options_ = options;
    path_ = path;
    muxer_ = Muxer::Open(path, options_.encoding.container,
                         options_.shown.empty() ? Quoted(path) : options_.shown, error);
    if (!muxer_) return false;
    video_ = std::make_unique<VideoTrack>(*muxer_, options_);
    sound_ = std::make_unique<SoundTrack>(*muxer_, options_);
    if (!video_->Open(error) || !sound_->Open(error)) return false;
    if (options_.copySound && sound_->Aac())
        splicer_ = std::make_unique<SoundSplicer>(*sound_, options_.soundStart);
    if (options_.copySound && options_.exactSound) {
        recorder_ = std::make_unique<ClipPacketRecorder>(*muxer_, sound_->Format(), sound_->Chunk(),
                                                         options_.soundStart);
        if (!recorder_->Open(error)) return false;
    }
    if (!Sealed()) return muxer_->Start(options_.tags, error);
    auto tags = options_.tags;
    tags.emplace_back(kSealTag, SealPlaceholder());
    return muxer_->Start(tags, error, true);
}

bool MovieWriter::Sealed() const {
    return options_.exactSound && !options_.tags.empty();
}

bool MovieWriter::WriteVideo(const uint32_t* pixels, int rowPixels, std::string* error) {
    return video_->Encode(pixels, rowPixels, error);
}

bool MovieWriter::TakesAsItIs(const AVFrame* picture) const {
    return video_->TakesAsItIs(picture);
}

bool MovieWriter::WriteVideo(const AVFrame* picture, std::string* error) {
    return video_->Encode(picture, error);
}

bool MovieWriter::CopyVideo(const uint8_t* data, size_t size, int64_t pts, bool key,
                            std::string* error) {
    return video_->Copy(data, size, pts, key, error);
}

bool MovieWriter::WritePacket(const uint8_t* data, size_t size, int64_t pts, int64_t dts, bool key,
                              std::string* error) {
    return video_->Given(data, size, pts, dts, key, error);
}

bool MovieWriter::WriteAudio(const float* interleaved, int samples, std::string* error,
                             const SoundOrigin* origin) {
    if (splicer_) return splicer_->Take(interleaved, samples, origin, error);
    if (recorder_ && !recorder_->Record(samples, origin, error)) return false;
    const size_t channels = size_t(sound_->Format().channels);
    const size_t chunk = size_t(sound_->Chunk()) * channels;
    pending_.insert(pending_.end(), interleaved, interleaved + size_t(samples) * channels);
    size_t used = 0;
    for (; pending_.size() - used >= chunk; used += chunk)
        if (!sound_->Encode(pending_.data() + used, sound_->Chunk(), true, error)) return false;
    pending_.erase(pending_.begin(), pending_.begin() + ptrdiff_t(used));
    return true;
}

bool MovieWriter::NoteSoundAfter(int samples, const SoundOrigin* origin, std::string* error) {
    return !recorder_ || recorder_->Record(samples, origin, error);
}

int64_t MovieWriter::CopiedSoundPackets() const {
    return splicer_ ? splicer_->Copied() : 0;
}

bool MovieWriter::Finish(std::string* error) {
    if (splicer_ && !splicer_->Finish(error)) return false;
    const size_t channels = size_t(sound_->Format().channels);
    if (!pending_.empty() &&
        !sound_->Encode(pending_.data(), int(pending_.size() / channels), true, error))
        return false;
    pending_.clear();
    if (!video_->Finish(error) || !sound_->Close(error) || !muxer_->Finish(error)) return false;
    return !Sealed() || SealPart(path_, options_.tags,
                                 options_.shown.empty() ? Quoted(path_) : options_.shown, error);
}

}  // namespace tavhost::media
