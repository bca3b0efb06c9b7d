// Probing a clip: one pass over its packets, no decoding, for the timeline,
// the picture's shape and colour, and what is missing from the file.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "clip_reader.h"
#include "exif_orientation.h"
#include "media_input.h"
#include "packet_index.h"
#include "user_text.h"

extern "C" {
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
}

namespace tavhost::media {

namespace {

// How a picture is turned (and mirrored) upright for display, from a display
// matrix: the filters that do it, as players read the matrix, and the
// degrees clockwise it turns.
void Upright(const int32_t* m, ClipInfo* info) {
    info->upright.clear();
    info->rotation = 0;
    if (!m) return;
    double theta = -std::round(av_display_rotation_get(m));
    if (std::isnan(theta)) return;
    theta -= 360 * std::floor(theta / 360 + 0.9 / 360);
    if (std::abs(theta - 90) < 1.0) {
        info->rotation = 90;
        info->upright = m[3] > 0 ? ",transpose=cclock_flip" : ",transpose=clock";
    } else if (std::abs(theta - 180) < 1.0) {
        info->rotation = 180;
        if (m[0] < 0) info->upright += ",hflip";
        if (m[4] < 0) info->upright += ",vflip";
    } else if (std::abs(theta - 270) < 1.0) {
        info->rotation = 270;
        info->upright = m[3] < 0 ? ",transpose=clock_flip" : ",transpose=cclock";
    } else if (std::abs(theta) < 1.0) {
        if (m[4] < 0) info->upright = ",vflip";
    } else {
        // An odd angle: the nearest quarter turn.
        info->rotation = int(std::lround(theta / 90.0)) * 90 % 360;
        const char* turns[] = {"", ",transpose=clock", ",hflip,vflip", ",transpose=cclock"};
        info->upright = turns[info->rotation / 90];
    }
}

// A still picture's own orientation (a JPEG's EXIF), which its decoder gives
// with the picture rather than the stream: from its first picture.
std::array<int32_t, 9> StillOrientation(const std::string& path, bool* found) {
    std::array<int32_t, 9> matrix{};
    *found = false;
    InputPtr fmt;
    std::string error;
    if (!OpenInput(path, &fmt, &error)) return matrix;
    const int video = av_find_best_stream(fmt.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (video < 0) return matrix;
    CodecPtr dec = OpenDecoder(fmt->streams[video], &error);
    if (!dec) return matrix;
    PacketPtr pkt(Allocated(av_packet_alloc()));
    AvFramePtr frame(Allocated(av_frame_alloc()));
    bool sent = false;
    while (!sent && av_read_frame(fmt.get(), pkt.get()) >= 0) {
        if (pkt->stream_index == video) sent = avcodec_send_packet(dec.get(), pkt.get()) >= 0;
        av_packet_unref(pkt.get());
    }
    avcodec_send_packet(dec.get(), nullptr);
    if (!sent || avcodec_receive_frame(dec.get(), frame.get()) < 0) return matrix;
    const AVFrameSideData* sd = av_frame_get_side_data(frame.get(), AV_FRAME_DATA_DISPLAYMATRIX);
    if (!sd || sd->size < sizeof matrix) return matrix;
    std::memcpy(matrix.data(), sd->data, sizeof matrix);
    *found = true;
    return matrix;
}

// An enum field as the file gave it: damaged files carry values outside the
// enumeration, which must not be loaded as the enum type.
template <class E>
int Raw(const E& field) {
    static_assert(sizeof(E) == sizeof(int));
    int value;
    std::memcpy(&value, &field, sizeof value);
    return value;
}

// The matrix and range a clip is read with: its tags, or, untagged, what
// players assume (BT.709 from 720 lines up, BT.601 below; full range for
// JPEG-style formats).
void ColourOf(const AVCodecParameters* par, ClipInfo* info) {
    switch (Raw(par->color_space)) {
        case AVCOL_SPC_BT709:
            info->matrix = "bt709";
            break;
        case AVCOL_SPC_BT470BG:
        case AVCOL_SPC_SMPTE170M:
            info->matrix = "bt601";
            break;
        case AVCOL_SPC_BT2020_NCL:
        case AVCOL_SPC_BT2020_CL:
            info->matrix = "bt2020";
            break;
        case AVCOL_SPC_SMPTE240M:
            info->matrix = "smpte240m";
            break;
        case AVCOL_SPC_FCC:
            info->matrix = "fcc";
            break;
        default:
            info->matrix = par->height >= 720 ? "bt709" : "bt601";
    }
    const int format = par->format;
    const bool jpegStyle = format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUVJ422P ||
                           format == AV_PIX_FMT_YUVJ444P || format == AV_PIX_FMT_YUVJ440P ||
                           format == AV_PIX_FMT_YUVJ411P;
    const int range = Raw(par->color_range);
    if (range == AVCOL_RANGE_JPEG || (range != AVCOL_RANGE_MPEG && jpegStyle))
        info->range = "full";
    else
        info->range = "limited";
    const int trc = Raw(par->color_trc);
    info->hdr = trc == AVCOL_TRC_SMPTE2084 || trc == AVCOL_TRC_ARIB_STD_B67;
    // A damaged stream may hold any number in these fields: only known values are named.
    auto name = [](int raw, int count, auto namer, auto type) {
        const char* n = raw >= 0 && raw < count ? namer(decltype(type)(raw)) : nullptr;
        return std::string(n ? n : "unknown");
    };
    info->tags = {
        name(Raw(par->color_primaries), AVCOL_PRI_NB, av_color_primaries_name, AVCOL_PRI_BT709),
        name(trc, AVCOL_TRC_NB, av_color_transfer_name, AVCOL_TRC_BT709),
        name(Raw(par->color_space), AVCOL_SPC_NB, av_color_space_name, AVCOL_SPC_BT709),
        name(range, AVCOL_RANGE_NB, av_color_range_name, AVCOL_RANGE_MPEG)};
}

bool IsStillFormat(const AVFormatContext* fmt) {
    const std::string name = fmt->iformat->name;
    return name == "image2" || name.find("_pipe") != std::string::npos || name == "webp";
}

// Mixes a packet into a clip's content hash: its stream, its time and its
// bytes, eight at a time (FNV-1a's step over words). Two files that differ
// in any packet differ in the hash, whatever they are named.
uint64_t MixContent(uint64_t h, const AVPacket* pkt, int64_t pts) {
    constexpr uint64_t kPrime = 0x100000001b3ull;
    auto mix = [&h](uint64_t word) { h = (h ^ word) * kPrime; };
    mix(uint64_t(pkt->stream_index));
    mix(uint64_t(pts));
    mix(uint64_t(pkt->size));
    const uint8_t* data = pkt->data;
    const size_t size = data ? size_t(pkt->size) : 0;
    size_t at = 0;
    for (; at + 8 <= size; at += 8) {
        uint64_t word;
        std::memcpy(&word, data + at, 8);
        mix(word);
    }
    uint64_t tail = 0;
    if (at < size) std::memcpy(&tail, data + at, size - at);
    mix(tail);
    return h;
}

// The probe pass: the video timeline's start and end, its packets, and the
// holes in it: a gap of several frames between neighbouring pictures is
// pictures lost to damage (a variable rate never skips that many).
struct Timeline {
    int64_t start = AV_NOPTS_VALUE;
    int64_t end = AV_NOPTS_VALUE;
    int64_t packets = 0;
    double otherEnd = 0.0;                     // seconds where the other streams end
    uint64_t content = 0xcbf29ce484222325ull;  // every packet's stream, time and bytes, mixed
    Damage damage;
};

Timeline ScanPackets(AVFormatContext* fmt, int video, PacketIndex* index) {
    Timeline line;
    const AVStream* vs = fmt->streams[video];
    const AVRational rate = av_guess_frame_rate(fmt, const_cast<AVStream*>(vs), nullptr);
    const int64_t frameTicks =
        rate.num > 0 && rate.den > 0
            ? std::max<int64_t>(1, av_rescale_q(1, av_inv_q(rate), vs->time_base))
            : 1;
    std::vector<int64_t> corrupt;  // times of pictures the demuxer marked corrupt
    PacketPtr pkt(Allocated(av_packet_alloc()));
    for (;;) {
        const int rc = av_read_frame(fmt, pkt.get());
        if (rc == AVERROR_EOF) break;
        if (rc < 0) {
            // A read error other than the end: decoding will stop here too.
            ++line.damage.errors;
            break;
        }
        const AVStream* st = fmt->streams[pkt->stream_index];
        const int64_t pts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
        line.content = MixContent(line.content, pkt.get(), pts);
        if (index && pkt->stream_index == video)
            index->Add(pkt->data, pkt->size, pkt->pts, pkt->dts, pkt->flags & AV_PKT_FLAG_DISCARD);
        if (pkt->stream_index == video && !(pkt->flags & AV_PKT_FLAG_DISCARD)) {
            ++line.packets;
            if (pts != AV_NOPTS_VALUE) {
                const int64_t duration = pkt->duration > 0 ? pkt->duration : frameTicks;
                if (line.start == AV_NOPTS_VALUE || pts < line.start) line.start = pts;
                if (line.end == AV_NOPTS_VALUE || pts + duration > line.end)
                    line.end = pts + duration;
                if (pkt->flags & AV_PKT_FLAG_CORRUPT) corrupt.push_back(pts);
            }
        } else if (pts != AV_NOPTS_VALUE) {
            line.otherEnd = std::max(
                line.otherEnd, Seconds(pts + std::max<int64_t>(pkt->duration, 0), st->time_base));
        }
        av_packet_unref(pkt.get());
    }
    // A gap between pictures' times is not damage: a variable-rate stream
    // (a screen recording, an animated GIF) shows a still moment that way,
    // and the retiming holds the picture. Damage is what the demuxer and the
    // decoder report: read errors, corrupt packets, a file cut short.
    for (const int64_t at : corrupt) {
        ++line.damage.errors;
        const double seconds = Seconds(at - line.start, vs->time_base);
        if (line.damage.firstAt < 0 || seconds < line.damage.firstAt)
            line.damage.firstAt = std::max(0.0, seconds);
    }
    // A file cut short: its header promises more than its packets hold.
    const double declared = vs->duration != AV_NOPTS_VALUE && vs->duration > 0
                                ? Seconds(vs->duration, vs->time_base)
                            : fmt->duration > 0 ? double(fmt->duration) / AV_TIME_BASE
                                                : 0.0;
    if (line.start != AV_NOPTS_VALUE && rate.num > 0) {
        const double videoEnd = Seconds(line.end - line.start, vs->time_base);
        const double ends = std::max(videoEnd, line.otherEnd - Seconds(line.start, vs->time_base));
        // Some muxers write the end time as the duration of a stream that does
        // not start at zero (a recording cut from a broadcast, -output_ts_offset):
        // read that way too, it must still promise more.
        const double startSeconds = std::max(0.0, Seconds(line.start, vs->time_base));
        const double promised = std::min(declared, declared - startSeconds);
        if (promised > ends + std::max(0.5, 3.0 / av_q2d(rate))) {
            line.damage.missingAtEnd = std::llround((promised - videoEnd) * av_q2d(rate));
            line.damage.endsAt = videoEnd;
            line.damage.cutShort = true;
        }
    }
    return line;
}

// What copying the clip's packets needs from the stream itself.
void DescribeStream(const AVStream* vs, const AVRational sar, PacketIndex* index) {
    const AVCodecParameters* par = vs->codecpar;
    index->codec = avcodec_get_name(par->codec_id);
    const char* format = av_get_pix_fmt_name(AVPixelFormat(Raw(par->format)));
    index->pixFormat = format ? format : "unknown";
    index->width = par->width;
    index->height = par->height;
    index->squarePixels = sar.num <= 0 || sar.den <= 0 || sar.num == sar.den;
    index->timeBaseNum = vs->time_base.num;
    index->timeBaseDen = vs->time_base.den;
    if (par->codec_id == AV_CODEC_ID_H264 && par->extradata_size > 0 &&
        !h264::ReadExtradata(par->extradata, size_t(par->extradata_size), &index->sets))
        index->unreadable = true;
}

}  // namespace

bool Probe(const std::string& path, ClipInfo* info, std::string* error, PacketIndex* index,
           const std::string& shown) {
    const std::string name = shown.empty() ? Quoted(path) : shown;
    InputPtr fmt;
    if (!OpenInput(path, &fmt, error, "clip", name)) return false;
    const int video = av_find_best_stream(fmt.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (video < 0) {
        *error = av_find_best_stream(fmt.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0) >= 0
                     ? "clip " + name +
                           " is sound only: a clip needs a picture (a cover picture will do)"
                     : "clip " + name + " has no video";
        return false;
    }
    AVStream* vs = fmt->streams[video];
    const AVCodecParameters* par = vs->codecpar;
    if (par->width <= 0 || par->height <= 0) {
        *error = "clip " + name + " has no picture size";
        return false;
    }
    AVRational rate = av_guess_frame_rate(fmt.get(), vs, nullptr);
    if (rate.num <= 0 || rate.den <= 0 || av_q2d(rate) > 1000) rate = {25, 1};
    info->fps = {rate.num, rate.den};
    const int audio = av_find_best_stream(fmt.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    info->hasAudio = audio >= 0;
    if (audio >= 0) {
        const AVCodecParameters* ap = fmt->streams[audio]->codecpar;
        if (ap->sample_rate > 0) info->sound.rate = ap->sample_rate;
        if (ap->ch_layout.nb_channels > 0) info->sound.channels = ap->ch_layout.nb_channels;
        info->soundConfig = AacConfigOf(*ap);
        // Sound that cannot be decoded is said, not silently left out.
        std::string why;
        if (!OpenDecoder(fmt->streams[audio], &why)) {
            info->hasAudio = false;
            info->soundProblem = why.empty() ? "it cannot be decoded" : why;
        }
    }
    Upright(reinterpret_cast<const int32_t*>(
                av_stream_get_side_data(vs, AV_PKT_DATA_DISPLAYMATRIX, nullptr)),
            info);
    info->interlaced =
        Raw(par->field_order) != AV_FIELD_UNKNOWN && Raw(par->field_order) != AV_FIELD_PROGRESSIVE;
    // Some containers never say (DV's, a MOV without a fiel atom): the
    // decoder's own flag on each picture decides.
    info->fieldsUnknown = Raw(par->field_order) == AV_FIELD_UNKNOWN;
    ColourOf(par, info);
    // Display size: square pixels, then turned upright.
    const AVRational sar = av_guess_sample_aspect_ratio(fmt.get(), vs, nullptr);
    int w = par->width, h = par->height;
    if (sar.num > 0 && sar.den > 0 && sar.num != sar.den)
        w = int(std::lround(double(w) * sar.num / sar.den));
    if (info->rotation == 90 || info->rotation == 270) std::swap(w, h);
    info->width = std::max(w, 1);
    info->height = std::max(h, 1);

    if (index) DescribeStream(vs, sar, index);
    const Timeline line = ScanPackets(fmt.get(), video, index);
    info->packets = line.packets;
    info->origin = line.start != AV_NOPTS_VALUE       ? line.start
                   : vs->start_time != AV_NOPTS_VALUE ? vs->start_time
                                                      : 0;
    if (index) index->origin = info->origin;
    info->damage = line.damage;
    info->content = line.content;
    if (line.packets == 0) {
        *error = "clip " + name + " has no video frames";
        return false;
    }
    info->still = line.packets == 1 && IsStillFormat(fmt.get());
    // A sound file's cover picture is the clip's picture for as long as the
    // sound lasts.
    info->cover = (vs->disposition & AV_DISPOSITION_ATTACHED_PIC) && info->hasAudio;
    if (info->still && info->upright.empty()) {
        bool found = false;
        std::array<int32_t, 9> matrix = StillOrientation(path, &found);
        // FFmpeg's decoders give a JPEG's orientation only; a TIFF, PNG or
        // WebP carries its own tag, read from the file.
        if (!found) found = OrientationMatrix(ExifOrientation(path), &matrix);
        if (found) {
            Upright(matrix.data(), info);
            if (info->rotation == 90 || info->rotation == 270) std::swap(info->width, info->height);
        }
    }
    info->seconds = line.start != AV_NOPTS_VALUE ? Seconds(line.end - line.start, vs->time_base)
                                                 : double(line.packets) / av_q2d(rate);
    if (info->cover)
        info->seconds =
            std::max(info->seconds,
                     line.otherEnd -
                         (line.start != AV_NOPTS_VALUE ? Seconds(line.start, vs->time_base) : 0));
    info->frames = std::max<int64_t>(1, std::llround(info->seconds * av_q2d(rate)));
    return true;
}

}  // namespace tavhost::media
