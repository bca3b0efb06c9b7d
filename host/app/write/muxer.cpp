#include "muxer.h"

#include "interrupt.h"
#include "movie_writer.h"
#include "user_text.h"

namespace tavhost::media {

std::unique_ptr<Muxer> Muxer::Open(const std::string& path, const std::string& container,
                                   const std::string& shown, std::string* error) {
    AVFormatContext* oc = nullptr;
    if (int rc = avformat_alloc_output_context2(
            &oc, nullptr, container.empty() ? nullptr : container.c_str(), path.c_str());
        rc < 0 || !oc) {
        *error = "cannot write " + shown + ": unknown movie format";
        if (oc) avformat_free_context(oc);
        return nullptr;
    }
    // A stream with no packet waiting holds the others back at most this
    // long: the join reads a part's clip packets within it of their time.
    oc->max_interleave_delta = int64_t(kInterleaveSeconds) * AV_TIME_BASE;
    return std::unique_ptr<Muxer>(new Muxer(oc, path, shown));
}

Muxer::~Muxer() {
    if (!(oc_->oformat->flags & AVFMT_NOFILE)) avio_closep(&oc_->pb);
    avformat_free_context(oc_);
}

bool Muxer::Webm() const {
    return std::string(oc_->oformat->name).find("webm") != std::string::npos;
}

bool Muxer::GlobalHeader() const {
    return oc_->oformat->flags & AVFMT_GLOBALHEADER;
}

AVStream* Muxer::AddStream() {
    return Allocated(avformat_new_stream(oc_, nullptr));
}

std::string Muxer::Failed(const std::string& why) const {
    return "cannot write " + shown_ + ": " + why;
}

bool Muxer::Start(const std::vector<std::pair<std::string, std::string>>& tags, std::string* error,
                  bool patchedLater) {
    for (const auto& [key, value] : tags)
        if (av_dict_set(&oc_->metadata, key.c_str(), value.c_str(), 0) < 0) {
            *error = Failed("out of memory");
            return false;
        }
    if (!(oc_->oformat->flags & AVFMT_NOFILE)) {
        oc_->interrupt_callback = InterruptCallback();
        if (int rc = avio_open2(&oc_->pb, path_.c_str(), AVIO_FLAG_WRITE, &oc_->interrupt_callback,
                                nullptr);
            rc < 0) {
            *error = Failed(AvError(rc));
            return false;
        }
    }
    AVDictionary* mux = nullptr;
    const bool seekable = oc_->pb && (oc_->pb->seekable & AVIO_SEEKABLE_NORMAL);
    av_dict_set(&mux, "movflags",
                seekable ? "+faststart" : "+frag_keyframe+empty_moov+default_base_moof", 0);
    if (patchedLater) av_dict_set(&mux, "write_crc32", "0", 0);
    const int rc = avformat_write_header(oc_, &mux);
    av_dict_free(&mux);
    if (rc < 0) {
        *error = Failed(AvError(rc));
        return false;
    }
    return true;
}

bool Muxer::Write(AVPacket* pkt, AVRational from, AVStream* stream, std::string* error) {
    av_packet_rescale_ts(pkt, from, stream->time_base);
    pkt->stream_index = stream->index;
    if (int w = av_interleaved_write_frame(oc_, pkt); w < 0) {
        *error = Failed(AvError(w));
        return false;
    }
    return true;
}

bool Muxer::Finish(std::string* error) {
    if (int rc = av_write_trailer(oc_); rc < 0) {
        *error = Failed(AvError(rc));
        return false;
    }
    if (!(oc_->oformat->flags & AVFMT_NOFILE) && avio_closep(&oc_->pb) < 0) {
        *error = Failed("cannot close the file");
        return false;
    }
    return true;
}

}  // namespace tavhost::media
