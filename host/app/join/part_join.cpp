#include "part_join.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>

#include "av_util.h"
#include "interrupt.h"
#include "media_input.h"
#include "media_types.h"
#include "movie_format.h"
#include "output_safety.h"
#include "part_seal.h"
#include "part_sound.h"
#include "part_tags.h"
#include "sinks.h"
#include "user_text.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace tavhost {

namespace {

using media::Allocated;
namespace fs = std::filesystem;
using media::AvError;
using media::PartTags;

// One part as a first reading finds it.
struct Part {
    std::string path;
    PartTags tags;
    OutputFormat format;
    std::shared_ptr<const AVCodecParameters> video;
    int delay = 0;  // how far its pictures' decode order runs ahead of their order
    std::vector<media::AacConfig> clipSound;  // its streams of clip packets (PartSound)
};

// A part's streams: its H.264 pictures and its exact sound.
bool FindStreams(AVFormatContext* ic, const std::string& path, int* video, int* audio,
                 std::string* error) {
    *video = av_find_best_stream(ic, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    // The exact sound; the clip packets a part may keep are AAC.
    *audio = -1;
    for (unsigned i = 0; i < ic->nb_streams && *audio < 0; ++i)
        if (ic->streams[i]->codecpar->codec_id == AV_CODEC_ID_PCM_F32LE) *audio = int(i);
    if (*video < 0 || *audio < 0 || ic->streams[*video]->codecpar->codec_id != AV_CODEC_ID_H264 ||
        ic->streams[*audio]->codecpar->codec_id != AV_CODEC_ID_PCM_F32LE) {
        *error = Quoted(path) + " has the tags of a part but not its streams (H.264, float sound)";
        return false;
    }
    return true;
}

// A packet's place on the part's frame grid.
int64_t FrameOf(const AVPacket* pkt, const AVStream* st, Rational rate) {
    return av_rescale_q(pkt->pts, st->time_base, AVRational{rate.den, rate.num});
}

bool ReadFailed(int rc, const std::string& path, std::string* error) {
    *error = gInterrupted ? "interrupted" : "cannot read part " + Quoted(path) + ": " + AvError(rc);
    return false;
}

// Reads what part `path` is and checks that it holds every frame and sample
// its tags promise.
bool Examine(const std::string& path, Part* part, std::string* error) {
    // A part is read twice (checked, then copied): a pipe cannot be.
    std::error_code ec;
    if (fs::exists(path, ec) && !fs::is_regular_file(path, ec)) {
        *error = "cannot read part " + Quoted(path) + ": it is not a file (a part is read twice)";
        return false;
    }
    media::InputPtr in;
    if (!media::OpenInput(path, &in, error, "part")) return false;
    AVFormatContext* ic = in.get();
    auto tag = [ic](const char* key) -> const char* {
        const AVDictionaryEntry* e = av_dict_get(ic->metadata, key, nullptr, 0);
        return e ? e->value : nullptr;
    };
    if (!PartTags::Read(tag, &part->tags)) {
        *error =
            Quoted(path) + " is not a part of a render (tavhost render ... --part K/N makes one)";
        return false;
    }
    int video = 0, audio = 0;
    if (!FindStreams(ic, path, &video, &audio, error)) return false;
    const AVCodecParameters* v = ic->streams[video]->codecpar;
    const AVCodecParameters* a = ic->streams[audio]->codecpar;
    part->path = path;
    part->format = {
        v->width, v->height, part->tags.rate, {a->sample_rate, a->ch_layout.nb_channels}};
    AVCodecParameters* copy = avcodec_parameters_alloc();
    if (!copy || avcodec_parameters_copy(copy, v) < 0) {
        avcodec_parameters_free(&copy);
        throw std::bad_alloc();
    }
    part->video.reset(copy, [](AVCodecParameters* p) { avcodec_parameters_free(&p); });
    for (const int s : PartSound::Streams(ic))
        part->clipSound.push_back(media::AacConfigOf(*ic->streams[s]->codecpar));
    if (part->format.sound.channels < 1 || part->format.sound.rate < 1 ||
        part->format.sound.rate > media::kMostSampleRate) {
        *error = Quoted(path) + " has a part's tags but no sound format";
        return false;
    }
    // What the part holds must be what was written: its seal says so.
    const char* seal = tag(media::kSealTag);
    if (!seal) {
        *error = Quoted(path) +
                 " has no seal: it is damaged, or was remade from a part (render the part again)";
        return false;
    }
    media::PartDigest digest;
    digest.Begin(part->tags.Tags(), ic);
    media::PacketPtr pkt{Allocated(av_packet_alloc())};
    int64_t pictures = 0, samples = 0;
    for (;;) {
        const int rc = av_read_frame(ic, pkt.get());
        if (rc == AVERROR_EOF) break;
        if (rc < 0) return ReadFailed(rc, path, error);
        digest.Add(pkt.get());
        if (pkt->stream_index == video) {
            // Every picture lies inside the part (an empty one holds one).
            const int64_t at = pkt->pts == AV_NOPTS_VALUE
                                   ? -1
                                   : FrameOf(pkt.get(), ic->streams[video], part->tags.rate);
            if (at < 0 || at >= std::max<int64_t>(1, part->tags.end - part->tags.first)) {
                *error = Quoted(path) + " is damaged: a picture lies outside the part's frames";
                return false;
            }
            part->delay = int(std::max<int64_t>(part->delay, pictures - at));
            ++pictures;
        } else if (pkt->stream_index == audio) {
            samples += pkt->size / (4 * part->format.sound.channels);
        }
        av_packet_unref(pkt.get());
    }
    const PartTags& t = part->tags;
    const int rate = part->format.sound.rate;
    const int64_t wanted = media::FrameSampleStart(t.end, t.rate, rate) -
                           media::FrameSampleStart(t.first, t.rate, rate);
    // An empty part holds one picture that stands for none.
    const int64_t frames = t.end > t.first ? t.end - t.first : 1;
    if (pictures != frames || samples != wanted) {
        *error = Quoted(path) + " is cut short: it holds " + std::to_string(pictures) + " of its " +
                 std::to_string(t.end - t.first) + " frames and " + std::to_string(samples) +
                 " of its " + std::to_string(wanted) + " sound samples";
        return false;
    }
    if (digest.Seal() != seal) {
        *error = Quoted(path) +
                 " is damaged: what it holds is not what was written (its seal does not match)";
        return false;
    }
    return true;
}

// The parts in their order, each once, all of one render; `parts` sorted.
bool CheckSet(std::vector<Part>& parts, std::string* error) {
    std::sort(parts.begin(), parts.end(),
              [](const Part& a, const Part& b) { return a.tags.index < b.tags.index; });
    const Part& one = parts.front();
    for (const Part& p : parts) {
        const PartTags& t = p.tags;
        if (t.plan != one.tags.plan || t.count != one.tags.count || t.total != one.tags.total) {
            *error = Quoted(p.path) + " is a part of another render than " + Quoted(one.path);
            return false;
        }
    }
    for (size_t i = 1; i < parts.size(); ++i)
        if (parts[i].tags.index == parts[i - 1].tags.index) {
            *error = "part " + std::to_string(parts[i].tags.index) + " of " +
                     std::to_string(one.tags.count) +
                     " is given twice: " + Quoted(parts[i - 1].path) + " and " +
                     Quoted(parts[i].path);
            return false;
        }
    for (int k = 1, i = 0; k <= one.tags.count; ++k, ++i)
        if (size_t(i) >= parts.size() || parts[size_t(i)].tags.index != k) {
            *error = "part " + std::to_string(k) + " of " + std::to_string(one.tags.count) +
                     " is missing (" + Quoted(one.path) + " is one of them)";
            return false;
        }
    int64_t next = 0;
    for (const Part& p : parts) {
        const AVCodecParameters& a = *p.video;
        const AVCodecParameters& b = *one.video;
        const bool sameVideo =
            a.width == b.width && a.height == b.height && a.extradata_size == b.extradata_size &&
            (a.extradata_size == 0 ||
             std::equal(a.extradata, a.extradata + a.extradata_size, b.extradata));
        if (!sameVideo || p.format.sound.rate != one.format.sound.rate ||
            p.format.sound.channels != one.format.sound.channels) {
            *error = Quoted(p.path) + " was encoded otherwise than " + Quoted(one.path) +
                     ": render every part with the same tavhost and options";
            return false;
        }
        if (p.tags.first != next) {
            *error = Quoted(p.path) + " starts at frame " + std::to_string(p.tags.first) +
                     ", not where the part before it ends (" + std::to_string(next) + ")";
            return false;
        }
        next = p.tags.end;
    }
    if (next != one.tags.total) {
        *error = "the last part, " + Quoted(parts.back().path) + ", ends at frame " +
                 std::to_string(next) + " of " + std::to_string(one.tags.total);
        return false;
    }
    return true;
}

// The sound of one decoded packet (float samples, `channels` interleaved)
// to `clips`, which holds it until the clip packets that go with it are read.
bool TakeSound(AVCodecContext* dec, AVFrame* frame, int channels, PartSound& clips,
               const std::string& path, std::string* error) {
    for (;;) {
        const int rc = avcodec_receive_frame(dec, frame);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
        if (rc < 0) return ReadFailed(rc, path, error);
        if (frame->format != AV_SAMPLE_FMT_FLT || frame->ch_layout.nb_channels != channels) {
            *error = "cannot read part " + Quoted(path) + ": its sound is not float samples";
            return false;
        }
        const float* samples = reinterpret_cast<const float*>(frame->data[0]);
        const float* end = samples + size_t(frame->nb_samples) * size_t(channels);
        // A part's sound is the render's exact samples, never NaN or infinite.
        if (!std::all_of(samples, end, [](float v) { return std::isfinite(v); })) {
            av_frame_unref(frame);
            *error = Quoted(path) + " is damaged: its sound holds values that are not numbers";
            return false;
        }
        clips.Take(samples, frame->nb_samples);
        av_frame_unref(frame);
    }
}

// Part `p`'s pictures and sound into `sink`, in one pass in the order the
// part holds them; `decoded` counts the pictures written so far, `delay` is
// the largest of the parts', so that dts rises across the parts. Its clip
// packets go with the sound they stand for when `copySound`.
bool Append(const Part& p, int delay, bool copySound, int64_t* decoded, PartSound& clips,
            Sink& sink, std::string* error) {
    const int rate = p.format.sound.rate;
    media::InputPtr in;
    if (!media::OpenInput(p.path, &in, error, "part")) return false;
    AVFormatContext* ic = in.get();
    int video = 0, audio = 0;
    if (!FindStreams(ic, p.path, &video, &audio, error)) return false;
    media::CodecPtr dec = media::OpenDecoder(ic->streams[audio], error);
    if (!dec) {
        *error = "cannot read part " + Quoted(p.path) + ": " + *error;
        return false;
    }
    const int channels = p.format.sound.channels;
    clips.Start(p.path, media::FrameSampleStart(p.tags.first, p.tags.rate, rate), channels,
                PartSound::Streams(ic), copySound);
    media::PacketPtr pkt{Allocated(av_packet_alloc())};
    media::AvFramePtr frame{Allocated(av_frame_alloc())};
    int64_t pictures = 0;
    for (;;) {
        if (gInterrupted) {
            *error = "interrupted";
            return false;
        }
        const int rc = av_read_frame(ic, pkt.get());
        if (rc == AVERROR_EOF) break;
        if (rc < 0) return ReadFailed(rc, p.path, error);
        clips.Read(ic, pkt.get());
        bool ok = true;
        if (pkt->stream_index == video) {
            // The file as it was checked: a part changed since then is refused.
            const int64_t at = FrameOf(pkt.get(), ic->streams[video], p.tags.rate);
            if (pkt->pts == AV_NOPTS_VALUE || at < 0 || at >= p.tags.end - p.tags.first ||
                ++pictures > p.tags.end - p.tags.first) {
                av_packet_unref(pkt.get());
                *error = Quoted(p.path) + " changed while it was joined";
                return false;
            }
            ok = sink.CopyPacket(pkt->data, size_t(pkt->size), p.tags.first + at,
                                 (*decoded)++ - delay, pkt->flags & AV_PKT_FLAG_KEY, error);
        } else if (pkt->stream_index == audio) {
            const int sent = avcodec_send_packet(dec.get(), pkt.get());
            ok = sent >= 0 ? TakeSound(dec.get(), frame.get(), channels, clips, p.path, error)
                           : ReadFailed(sent, p.path, error);
        }
        av_packet_unref(pkt.get());
        if (!ok || !clips.Release(false, sink, error)) return false;
    }
    avcodec_send_packet(dec.get(), nullptr);
    if (pictures != p.tags.end - p.tags.first) {
        *error = Quoted(p.path) + " changed while it was joined";
        return false;
    }
    return TakeSound(dec.get(), frame.get(), channels, clips, p.path, error) &&
           clips.Release(true, sink, error);
}

}  // namespace

bool JoinParts(const std::vector<std::string>& paths, const std::string& output,
               JoinSummary* summary, std::string* error) {
    if (paths.empty()) {
        *error = "no parts given";
        return false;
    }
    OutputTarget target;
    if (!ClassifyOutput(output, "", &target, error) || !target.CarriesH264()) {
        *error = "cannot write " + Quoted(output) +
                 ": the parts' pictures are H.264; name the movie .mp4, .mov or .mkv";
        return false;
    }
    if (const std::string clash = OutputClash(paths, {output}, "part"); !clash.empty()) {
        *error = clash;
        return false;
    }
    std::vector<Part> parts(paths.size());
    for (size_t i = 0; i < paths.size(); ++i)
        if (!Examine(paths[i], &parts[i], error)) return false;
    if (!CheckSet(parts, error)) return false;
    int delay = 0;
    for (const Part& p : parts) delay = std::max(delay, p.delay);
    SinkOptions options;
    options.format = parts.front().format;
    options.matrix = media::OutputMatrix(options.format.height);
    options.givenVideo = parts.front().video;
    // The parts' clip packets are copied when they decode as the join's
    // encoder's would: a render's parts all keep them, or none does.
    const media::AacConfig ours = media::AacConfigFor(options.format.sound);
    for (const Part& p : parts)
        if (!p.clipSound.empty()) {
            options.copySound = p.clipSound.size() == 2 && SameAacConfig(p.clipSound[0], ours) &&
                                SameAacConfig(p.clipSound[1], ours);
            break;
        }
    std::unique_ptr<Sink> sink = OpenSink(target, options, error);
    if (!sink) return false;
    PartSound clips;
    int64_t decoded = 0;
    for (const Part& p : parts)
        if (p.tags.end > p.tags.first &&
            !Append(p, delay, options.copySound, &decoded, clips, *sink, error))
            return false;
    if (!sink->Finish(error) || !sink->Commit(error)) return false;
    summary->parts = int(parts.size());
    summary->frames = decoded;
    return true;
}

}  // namespace tavhost
