// Encoding movies: H.264 video and AAC sound (VP9 and Opus in WebM) in one
// file; and, when asked, H.264 packets copied from the clips between the
// spans the encoder writes, one encoder per span.
#include "av_util.h"

extern "C" {
#include <libavutil/imgutils.h>
}
#include "interrupt.h"
#include "movie_format.h"
#include "movie_writer.h"
#include "movie_writer_impl.h"
#include "picture_convert.h"
#include "user_text.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cstring>

namespace tavhost::media {
namespace {

// Zero chunks the encoder is given before its packets may stand for silence:
// more than the chunks of look-ahead and overlap it keeps.
constexpr int kSilentChunks = 4;

}  // namespace

bool MovieWriter::Impl::SendVideo(AVFrame* frame, std::string* error) {
    if (!venc && !OpenVideoEncoder(error)) return false;
    frame->pts = videoPts++;
    if (int rc = avcodec_send_frame(venc.get(), frame); rc < 0) {
        *error = Failed("video encoding failed: " + AvError(rc));
        return false;
    }
    return Drain(venc.get(), vstream, error);
}

bool MovieWriter::Impl::Drain(AVCodecContext* enc, AVStream* stream, std::string* error) {
    for (;;) {
        const int rc = avcodec_receive_packet(enc, pkt.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
        if (rc < 0) {
            *error = Failed("encoding failed: " + AvError(rc));
            return false;
        }
        if (copying && enc == venc.get()) {
            // Annex B from the encoder becomes 4-byte lengths, as in the avcC.
            const bool ok = h264::WithLengths(pkt->data, size_t(pkt->size), 0, true, &units);
            const bool key = pkt->flags & AV_PKT_FLAG_KEY;
            const int64_t pts = pkt->pts;
            av_packet_unref(pkt.get());
            if (!ok || !WriteCopied(units.data(), units.size(), pts, key, error)) {
                if (!ok) *error = Failed("the encoder wrote a packet that cannot be read");
                return false;
            }
            continue;
        }
        // Every video packet lasts one frame: without it the muxers give the
        // last frame no time and MP4's edit list drops it.
        if (enc == venc.get() && pkt->duration <= 0) pkt->duration = 1;
        if (enc == aenc.get() && splicing) {
            // Packets for a stretch's first input, or past its end, are not its own.
            const bool own = dropping == 0 && keeping != 0;
            if (dropping > 0) --dropping;
            if (own && keeping > 0) --keeping;
            if (!own) {
                av_packet_unref(pkt.get());
                continue;
            }
            lastOwn = WindowOf(pkt->data, size_t(pkt->size));
            splice.Wrote(lastOwn);
        }
        if (enc == aenc.get() && skipsSilence) {
            const bool same = lastSound.size() == size_t(pkt->size) &&
                              std::equal(lastSound.begin(), lastSound.end(), pkt->data);
            steadySilence = zeroChunks >= kSilentChunks && same;
            lastSound.assign(pkt->data, pkt->data + pkt->size);
            if (!WriteSound(error)) return false;
            continue;
        }
        if (!Write(enc->time_base, stream, error)) return false;
    }
}

bool MovieWriter::Impl::Write(AVRational from, AVStream* stream, std::string* error) {
    av_packet_rescale_ts(pkt.get(), from, stream->time_base);
    pkt->stream_index = stream->index;
    if (int w = av_interleaved_write_frame(oc, pkt.get()); w < 0) {
        *error = Failed(AvError(w));
        return false;
    }
    return true;
}

bool MovieWriter::Impl::WriteSound(std::string* error) {
    if (soundPacketPts == AV_NOPTS_VALUE) soundPacketPts = pkt->pts;
    pkt->pts = pkt->dts = soundPacketPts;
    soundPacketPts += pkt->duration;
    ++stretchWritten;
    return Write(AVRational{1, sound.rate}, astream, error);
}

bool MovieWriter::Impl::EncodeAudio(int samples, std::string* error, bool mayCopySilence) {
    const size_t channels = size_t(sound.channels);
    if (skipsSilence) {
        const size_t n = size_t(samples) * channels;
        const bool zeros =
            samples == chunk && std::all_of(pending.begin(), pending.begin() + ptrdiff_t(n),
                                            [](float v) { return v == 0.0f; });
        if (zeros && steadySilence && mayCopySilence) {
            pending.erase(pending.begin(), pending.begin() + ptrdiff_t(n));
            audioPts += samples;
            if (int rc = av_new_packet(pkt.get(), int(lastSound.size())); rc < 0) {
                *error = Failed("cannot write the sound: " + AvError(rc));
                return false;
            }
            std::copy(lastSound.begin(), lastSound.end(), pkt->data);
            pkt->duration = samples;
            pkt->flags |= AV_PKT_FLAG_KEY;
            return WriteSound(error);
        }
        zeroChunks = zeros ? zeroChunks + 1 : 0;
        if (!zeros) steadySilence = false;
    }
    const bool sent = SendSound(pending.data(), samples, audioPts, error);
    pending.erase(pending.begin(), pending.begin() + ptrdiff_t(size_t(samples) * channels));
    audioPts += samples;
    return sent && Drain(aenc.get(), astream, error);
}

bool MovieWriter::Impl::SendSound(const float* data, int samples, int64_t pts, std::string* error) {
    const size_t channels = size_t(sound.channels);
    aframe->nb_samples = samples;
    if (int rc = av_frame_make_writable(aframe.get()); rc < 0) {
        *error = Failed("cannot encode the sound: " + AvError(rc));
        return false;
    }
    if (aenc->sample_fmt == AV_SAMPLE_FMT_FLT) {
        auto* all = reinterpret_cast<float*>(aframe->data[0]);
        for (size_t i = 0; i < size_t(samples) * channels; ++i)
            all[i] = std::clamp(data[i], -1.0f, 1.0f);
    } else {
        for (size_t c = 0; c < channels; ++c) {
            auto* plane = reinterpret_cast<float*>(aframe->extended_data[c]);
            for (size_t i = 0; i < size_t(samples); ++i)
                plane[i] = std::clamp(data[i * channels + c], -1.0f, 1.0f);
        }
    }
    aframe->pts = pts;
    if (int rc = avcodec_send_frame(aenc.get(), aframe.get()); rc < 0) {
        *error = Failed("audio encoding failed: " + AvError(rc));
        return false;
    }
    return true;
}

bool MovieWriter::Impl::OpenSoundEncoder(const AVCodec* codec, std::string* error) {
    std::string why;
    aenc = OpenSoundCoder(codec, sound, webm, oc->oformat->flags & AVFMT_GLOBALHEADER, &why);
    if (!aenc) *error = Failed(why);
    return bool(aenc);
}

MovieWriter::MovieWriter(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
MovieWriter::~MovieWriter() = default;

std::unique_ptr<MovieWriter> MovieWriter::Open(const std::string& path, const Options& options,
                                               std::string* error) {
    auto impl = std::make_unique<Impl>();
    impl->path = path;
    impl->options = options;
    if (int rc = avformat_alloc_output_context2(
            &impl->oc, nullptr,
            options.encoding.container.empty() ? nullptr : options.encoding.container.c_str(),
            path.c_str());
        rc < 0 || !impl->oc) {
        *error = "cannot write " + Quoted(path) + ": unknown movie format";
        if (impl->oc) avformat_free_context(impl->oc);
        impl->oc = nullptr;
        return nullptr;
    }
    AVFormatContext* oc = impl->oc;
    // WebM carries VP9 and Opus; the other containers H.264 and AAC.
    impl->webm = std::string(oc->oformat->name).find("webm") != std::string::npos;
    impl->copying = options.copy.has_value();
    if (impl->copying && impl->webm) {
        *error = impl->Failed("copied H.264 pictures need an MP4, MOV or MKV file");
        return nullptr;
    }
    impl->matrix = OutputMatrix(options.format.height);
    if (options.givenVideo && !impl->OpenGivenVideo(error)) return nullptr;
    if (!options.givenVideo && !impl->OpenVideo(error)) return nullptr;

    const bool webm = impl->webm;
    const AVCodec* acodec = webm                 ? avcodec_find_encoder_by_name("libopus")
                            : options.exactSound ? avcodec_find_encoder(AV_CODEC_ID_PCM_F32LE)
                                                 : avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!acodec) {
        *error = impl->Failed(webm ? "this FFmpeg has no Opus encoder"
                                   : "this FFmpeg has no AAC encoder");
        return nullptr;
    }
    impl->sound = SoundFormatFor(webm ? "webm" : "", options.format.sound);
    if (!impl->OpenSoundEncoder(acodec, error)) return nullptr;
    AVCodecContext* a = impl->aenc.get();
    impl->astream = Allocated(avformat_new_stream(oc, nullptr));
    if (int rc = avcodec_parameters_from_context(impl->astream->codecpar, a); rc < 0) {
        *error = impl->Failed("cannot describe the sound: " + AvError(rc));
        return nullptr;
    }
    impl->astream->time_base = a->time_base;

    // PCM takes any number of samples; it is given them as AAC would be.
    impl->chunk = a->frame_size > 0 ? a->frame_size : 1024;
    impl->skipsSilence = acodec->id == AV_CODEC_ID_AAC;
    impl->splicing = acodec->id == AV_CODEC_ID_AAC && options.copySound;
    if (options.exactSound && options.copySound && !impl->OpenClipStreams(error)) return nullptr;
    AVFrame* af = impl->aframe.get();
    af->format = a->sample_fmt;
    af->sample_rate = impl->sound.rate;
    av_channel_layout_default(&af->ch_layout, impl->sound.channels);
    af->nb_samples = impl->chunk;
    if (av_frame_get_buffer(af, 0) < 0) {
        *error = impl->Failed("out of memory");
        return nullptr;
    }
    oc->max_interleave_delta = int64_t(kInterleaveSeconds) * AV_TIME_BASE;
    for (const auto& [key, value] : options.tags)
        if (av_dict_set(&oc->metadata, key.c_str(), value.c_str(), 0) < 0) {
            *error = impl->Failed("out of memory");
            return nullptr;
        }
    if (!(oc->oformat->flags & AVFMT_NOFILE)) {
        oc->interrupt_callback = InterruptCallback();
        if (int rc = avio_open2(&oc->pb, path.c_str(), AVIO_FLAG_WRITE, &oc->interrupt_callback,
                                nullptr);
            rc < 0) {
            *error = "cannot write " + Quoted(path) + ": " + AvError(rc);
            return nullptr;
        }
    }
    AVDictionary* mux = nullptr;
    // A file gets its index first, for players that stream it; a pipe, which
    // cannot be rewound, gets a fragmented movie written as it goes.
    const bool seekable = oc->pb && (oc->pb->seekable & AVIO_SEEKABLE_NORMAL);
    av_dict_set(&mux, "movflags",
                seekable ? "+faststart" : "+frag_keyframe+empty_moov+default_base_moof", 0);
    const int rc = avformat_write_header(oc, &mux);
    av_dict_free(&mux);
    if (rc < 0) {
        *error = "cannot write " + Quoted(path) + ": " + AvError(rc);
        return nullptr;
    }
    return std::unique_ptr<MovieWriter>(new MovieWriter(std::move(impl)));
}

bool MovieWriter::WriteVideo(const uint32_t* pixels, int rowPixels, std::string* error) {
    Impl& m = *impl_;
    if (av_frame_make_writable(m.vframe.get()) < 0) {
        *error = m.Failed("out of memory");
        return false;
    }
    RgbToYuv(pixels, rowPixels, m.options.format.width, m.options.format.height, m.vframe.get(),
             m.matrix);
    return m.SendVideo(m.vframe.get(), error);
}

bool MovieWriter::TakesAsItIs(const AVFrame* picture) const {
    const Impl& m = *impl_;
    return picture && picture->format == AV_PIX_FMT_YUV420P &&
           picture->width == m.options.format.width && picture->height == m.options.format.height;
}

bool MovieWriter::WriteVideo(const AVFrame* picture, std::string* error) {
    Impl& m = *impl_;
    av_frame_unref(m.passed.get());
    if (av_frame_ref(m.passed.get(), picture) < 0) {
        *error = m.Failed("out of memory");
        return false;
    }
    m.passed->pict_type = AV_PICTURE_TYPE_NONE;
    const bool ok = m.SendVideo(m.passed.get(), error);
    av_frame_unref(m.passed.get());
    return ok;
}

bool MovieWriter::CopyVideo(const uint8_t* data, size_t size, int64_t pts, bool key,
                            std::string* error) {
    Impl& m = *impl_;
    if (!m.copying) {
        *error = m.Failed("this movie takes no copied pictures");
        return false;
    }
    if (!m.EndSpan(error)) return false;
    ++m.videoPts;
    return m.WriteCopied(data, size, pts, key, error);
}

bool MovieWriter::WritePacket(const uint8_t* data, size_t size, int64_t pts, int64_t dts, bool key,
                              std::string* error) {
    Impl& m = *impl_;
    if (!m.options.givenVideo) {
        *error = m.Failed("this movie encodes its pictures");
        return false;
    }
    return m.WriteVideoPacket(data, size, pts, dts, key, error);
}

bool MovieWriter::WriteAudio(const float* interleaved, int samples, std::string* error,
                             const SoundOrigin* origin) {
    Impl& m = *impl_;
    if (m.splicing) return m.TakeSound(interleaved, samples, origin, error);
    if (m.recording && !m.RecordSound(samples, origin, error)) return false;
    const size_t channels = size_t(m.sound.channels);
    m.pending.insert(m.pending.end(), interleaved, interleaved + size_t(samples) * channels);
    while (m.pending.size() >= size_t(m.chunk) * channels)
        if (!m.EncodeAudio(m.chunk, error)) return false;
    return true;
}

bool MovieWriter::NoteSoundAfter(int samples, const SoundOrigin* origin, std::string* error) {
    Impl& m = *impl_;
    return !m.recording || m.RecordSound(samples, origin, error);
}

bool MovieWriter::Impl::OpenClipStreams(std::string* error) {
    // The AAC stream the join will write, as this movie's encoder would open it.
    CodecPtr exact = std::move(aenc);
    AVCodecParameters* aac = Allocated(avcodec_parameters_alloc());
    bool ok = OpenSoundEncoder(avcodec_find_encoder(AV_CODEC_ID_AAC), error) &&
              avcodec_parameters_from_context(aac, aenc.get()) >= 0;
    aenc = std::move(exact);
    recording = ok;
    for (int k = 0; k < 2 && recording; ++k) {
        clipStreams[k] = Allocated(avformat_new_stream(oc, nullptr));
        clipStreams[k]->time_base = {1, sound.rate};
        if (avcodec_parameters_copy(clipStreams[k]->codecpar, aac) < 0) ok = false;
    }
    avcodec_parameters_free(&aac);
    if (!ok && error->empty()) *error = Failed("cannot describe the clips' sound");
    return ok;
}

int64_t MovieWriter::CopiedSoundPackets() const {
    return impl_->copiedSound;
}

bool MovieWriter::Finish(std::string* error) {
    Impl& m = *impl_;
    if (m.splicing && !m.FinishSplicing(error)) return false;
    if (!m.pending.empty() &&
        !m.EncodeAudio(int(m.pending.size() / size_t(m.sound.channels)), error))
        return false;
    if (!m.EndSpan(error)) return false;
    if (m.aenc) {
        if (int rc = avcodec_send_frame(m.aenc.get(), nullptr); rc < 0) {
            *error = m.Failed("audio encoding failed: " + AvError(rc));
            return false;
        }
        if (!m.Drain(m.aenc.get(), m.astream, error)) return false;
    }
    if (int rc = av_write_trailer(m.oc); rc < 0) {
        *error = m.Failed(AvError(rc));
        return false;
    }
    if (!(m.oc->oformat->flags & AVFMT_NOFILE) && avio_closep(&m.oc->pb) < 0) {
        *error = m.Failed("cannot close the file");
        return false;
    }
    return true;
}

}  // namespace tavhost::media
